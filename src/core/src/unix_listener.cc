#include "vesk/core/unix_listener.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "vesk/core/logging.h"

namespace vesk {

int ListenOnUnixSocket(const std::string& path, const char* what) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    VESK_LOG(ERROR) << what << ": socket path too long: " << path;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());  // a leftover of an earlier process with our pid
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0) {
    VESK_PLOG(ERROR) << what << ": cannot listen on " << path;
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace vesk
