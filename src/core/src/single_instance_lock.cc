#include "vesk/core/single_instance_lock.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "vesk/core/file_util.h"

namespace vesk {

std::string SingleInstanceLockPath(const std::string& name) {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (runtime_dir && *runtime_dir && IsDirectory(runtime_dir)) return JoinPath(runtime_dir, name + ".lock");
  return JoinPath(g_get_tmp_dir(), name + "-" + std::to_string(::getuid()) + ".lock");
}

SingleInstanceLock::~SingleInstanceLock() { Close(); }

SingleInstanceLock::Result SingleInstanceLock::TryAcquire(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return Result::kError;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
    return Result::kAcquired;
  }
  // Only a lock taken at once makes the first instance; any other answer of
  // flock is treated as "someone else has it".
  return Result::kHeldElsewhere;
}

void SingleInstanceLock::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  held_ = false;
}

}  // namespace vesk
