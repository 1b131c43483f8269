#include "vesk/core/unix_listener.h"

#include <glib.h>
#include <sys/random.h>
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

std::string NewPeerToken() {
  unsigned char bytes[16] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // getrandom only fails this early on broken systems; a GLib random
    // token still keeps out processes that merely find the socket.
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(g_random_int_range(0, 256));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

}  // namespace vesk
