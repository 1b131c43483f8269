#include "vesk/core/package/verified_package_cache.h"

namespace vesk {
namespace {

// File time stamps advance in ticks of the kernel's coarse clock (at most a
// few milliseconds); this margin is far beyond one tick.
constexpr long long kSettleNanoseconds = 100'000'000;

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

VerifiedPackageCache& VerifiedPackageCache::Global() {
  static auto* cache = new VerifiedPackageCache;
  return *cache;
}

bool VerifiedPackageCache::Contains(const std::string& path, const FileIdentity& identity) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = verified_.find(path);
  return it != verified_.end() && it->second == identity;
}

void VerifiedPackageCache::Remember(const std::string& path, const FileIdentity& identity,
                                    const timespec& started) {
  const long long settled_before = Nanoseconds(started) - kSettleNanoseconds;
  if (Nanoseconds(identity.modified) >= settled_before || Nanoseconds(identity.changed) >= settled_before) {
    Forget(path);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (verified_.size() >= kMaxEntries && verified_.find(path) == verified_.end()) verified_.clear();
  verified_[path] = identity;
}

void VerifiedPackageCache::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.erase(path);
}

void VerifiedPackageCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.clear();
}

}  // namespace vesk
