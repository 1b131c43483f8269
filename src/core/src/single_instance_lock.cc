#include "vesk/core/single_instance_lock.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/runtime_dir.h"

namespace vesk {

std::string SingleInstanceLockPath(const std::string& name) {
  // Never in a directory others can write: there another user could create
  // or lock the file first.
  const std::string dir = PrivateRuntimeDirectory();
  return dir.empty() ? std::string() : JoinPath(dir, name + ".lock");
}

SingleInstanceLock::~SingleInstanceLock() { Close(); }

SingleInstanceLock::Result SingleInstanceLock::TryAcquire(const std::string& path) {
  Close();
  if (path.empty()) return Result::kError;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return Result::kError;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 ||
        ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
      VESK_PLOG(WARNING) << "Cannot record this instance's pid in " << path;
    return Result::kAcquired;
  }
  // Only a lock taken at once makes the first instance; any other answer of
  // flock is treated as "someone else has it".
  return Result::kHeldElsewhere;
}

std::optional<uint32_t> SingleInstanceLock::HolderPid() const {
  if (fd_ < 0) return std::nullopt;
  char text[16] = {};
  const ssize_t got = ::pread(fd_, text, sizeof text - 1, 0);
  if (got <= 1 || text[got - 1] != '\n') return std::nullopt;  // not (completely) written yet
  text[got - 1] = '\0';
  char* end = nullptr;
  const unsigned long pid = std::strtoul(text, &end, 10);
  if (*end != '\0' || pid == 0 || pid > INT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(pid);
}

void SingleInstanceLock::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  held_ = false;
}

}  // namespace vesk
