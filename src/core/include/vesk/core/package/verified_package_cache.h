// Package files by path and file identity: the bytes of those whose
// signature verified, and the identities of those that failed. A file that is
// rewritten or replaced gets another identity and is checked again. The bytes
// served for a remembered package are the bytes that were verified, held in
// memory: nothing another process does to the file reaches them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vesk/core/package/opened_file.h"

namespace vesk {

using PackageBytes = std::shared_ptr<const std::vector<uint8_t>>;

class VerifiedPackageCache {
 public:
  // The verified packages held together stay below this; the least recently
  // used go first, and a larger package is verified on every request.
  static constexpr uint64_t kMaxHeldBytes = 256ull << 20;
  // Packages remembered, verified or failed.
  static constexpr size_t kMaxEntries = 64;

  enum class Lookup { kUnknown, kVerified, kFailed };

  static VerifiedPackageCache& Global();

  // kVerified fills |bytes| with the package as it was verified.
  Lookup Find(const std::string& path, const FileIdentity& identity, PackageBytes* bytes);
  // Remembers the outcome of a check of |bytes| (null for a failure) read
  // from a file of |identity| that started at |started| (CLOCK_REALTIME). A
  // file whose time stamps are not clearly older than that start is not
  // remembered: the file system's clock is coarse, and a write in the same
  // tick could leave the identity unchanged.
  void Remember(const std::string& path, const FileIdentity& identity, const timespec& started,
                PackageBytes bytes);
  void Forget(const std::string& path);
  void Clear();
  uint64_t held_bytes() const;

 private:
  struct Entry {
    FileIdentity identity;
    PackageBytes bytes;  // null: the check failed
    uint64_t last_use = 0;
  };
  void EvictFor(uint64_t incoming);

  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  uint64_t held_bytes_ = 0;
  uint64_t use_counter_ = 0;
};

}  // namespace vesk
