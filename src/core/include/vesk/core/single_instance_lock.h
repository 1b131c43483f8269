// The single-instance rule: an exclusive, non-blocking flock on a per-user
// lock file, held for the life of the process. The kernel drops the lock when
// the process ends, however it ends, so a crashed instance never blocks the
// next start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesk {

// "<PrivateRuntimeDirectory()>/<name>.lock"; empty when there is no private
// directory (TryAcquire then fails).
std::string SingleInstanceLockPath(const std::string& name);

class SingleInstanceLock {
 public:
  enum class Result { kAcquired, kHeldElsewhere, kError };

  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Opens (or creates) |path| and tries to lock it without waiting. The
  // holder writes its pid into the file, so a second start knows whose
  // receiver to hand its message to.
  Result TryAcquire(const std::string& path);
  // The pid the holder wrote; nothing while it has not written one yet.
  std::optional<uint32_t> HolderPid() const;
  // Drops the lock and closes the file (a second instance does this).
  void Close();
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace vesk
