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
#include "vesk/core/runtime_dir.h"

namespace vesk::ipc {
namespace {

// Per application: a second start never hands its request to another
// application's instance.
constexpr const char* kDirectoryName = identity::kIpcDirectoryName;

}  // namespace

std::string IpcSocketDirectoryPath() { return JoinPath(PrivateRuntimeDirectory(), kDirectoryName); }

std::optional<std::string> EnsureIpcSocketDirectory() {
  const std::string base = PrivateRuntimeDirectory();
  if (base.empty()) return std::nullopt;
  const std::string dir = JoinPath(base, kDirectoryName);
  if (!EnsurePrivateDirectory(dir)) return std::nullopt;
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

std::optional<pid_t> PeerPid(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
    return std::nullopt;
  return credentials.pid;
}

std::optional<uid_t> PeerUid(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
    return std::nullopt;
  return credentials.uid;
}

}  // namespace vesk::ipc
