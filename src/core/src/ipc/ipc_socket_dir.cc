#include "vesk/core/ipc/ipc_socket_dir.h"

#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "vesk/app_identity.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk::ipc {
namespace {

// Per application: a second start never hands its request to another
// application's instance.
constexpr const char* kDirectoryName = identity::kIpcDirectoryName;

}  // namespace

std::string IpcSocketDirectoryPath() {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (runtime_dir && *runtime_dir && IsDirectory(runtime_dir)) return JoinPath(runtime_dir, kDirectoryName);
  return JoinPath(g_get_tmp_dir(), std::string(kDirectoryName) + "-" + std::to_string(::geteuid()));
}

std::optional<std::string> EnsureIpcSocketDirectory() {
  const std::string dir = IpcSocketDirectoryPath();
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    VESK_PLOG(ERROR) << "Cannot create the IPC socket directory " << dir;
    return std::nullopt;
  }
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0) {
    VESK_PLOG(ERROR) << "Cannot inspect the IPC socket directory " << dir;
    return std::nullopt;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
    VESK_LOG(ERROR) << "The IPC socket directory " << dir
                    << " is not a private directory of this user (mode 0700); refused";
    return std::nullopt;
  }
  return dir;
}

std::string IpcPeerSocketPath(const std::string& dir, uint32_t pid) {
  return JoinPath(dir, std::to_string(pid));
}

std::optional<uint32_t> ParseIpcSocketName(const std::string& name) {
  if (name.empty() || name.size() > 10 || (name.size() > 1 && name[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<uid_t> PeerUid(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
    return std::nullopt;
  return credentials.uid;
}

}  // namespace vesk::ipc
