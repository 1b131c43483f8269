#include "vesk/core/package/verified_package_cache.h"

namespace vesk {
namespace {

// File time stamps advance in ticks of the kernel's coarse clock (at most a
// few milliseconds); this margin is far beyond one tick.
constexpr long long kSettleNanoseconds = 100'000'000;

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

uint64_t SizeOf(const PackageBytes& bytes) { return bytes ? bytes->size() : 0; }

}  // namespace

VerifiedPackageCache& VerifiedPackageCache::Global() {
  static auto* cache = new VerifiedPackageCache;
  return *cache;
}

VerifiedPackageCache::Lookup VerifiedPackageCache::Find(const std::string& path, const FileIdentity& identity,
                                                        PackageBytes* bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = entries_.find(path);
  if (it == entries_.end() || !(it->second.identity == identity)) return Lookup::kUnknown;
  it->second.last_use = ++use_counter_;
  if (!it->second.bytes) return Lookup::kFailed;
  *bytes = it->second.bytes;
  return Lookup::kVerified;
}

void VerifiedPackageCache::Remember(const std::string& path, const FileIdentity& identity,
                                    const timespec& started, PackageBytes bytes) {
  const long long settled_before = Nanoseconds(started) - kSettleNanoseconds;
  const bool settled =
      Nanoseconds(identity.modified) < settled_before && Nanoseconds(identity.changed) < settled_before;
  if (!settled || SizeOf(bytes) > kMaxHeldBytes) {
    Forget(path);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto old = entries_.find(path);
  if (old != entries_.end()) {
    held_bytes_ -= SizeOf(old->second.bytes);
    entries_.erase(old);
  }
  EvictFor(SizeOf(bytes));
  held_bytes_ += SizeOf(bytes);
  entries_[path] = Entry{identity, std::move(bytes), ++use_counter_};
}

void VerifiedPackageCache::EvictFor(uint64_t incoming) {
  // Least recently used first, until the newcomer fits in both bounds.
  while (!entries_.empty() && (held_bytes_ + incoming > kMaxHeldBytes || entries_.size() >= kMaxEntries)) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.last_use < oldest->second.last_use) oldest = it;
    held_bytes_ -= SizeOf(oldest->second.bytes);
    entries_.erase(oldest);
  }
}

void VerifiedPackageCache::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = entries_.find(path);
  if (it == entries_.end()) return;
  held_bytes_ -= SizeOf(it->second.bytes);
  entries_.erase(it);
}

void VerifiedPackageCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  held_bytes_ = 0;
}

uint64_t VerifiedPackageCache::held_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_bytes_;
}

}  // namespace vesk
