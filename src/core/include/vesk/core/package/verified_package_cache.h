// Packages whose signature verified, by path and file identity. A file that
// is rewritten or replaced gets another identity and is verified again.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "vesk/core/package/mapped_file.h"

namespace vesk {

class VerifiedPackageCache {
 public:
  static VerifiedPackageCache& Global();

  bool Contains(const std::string& path, const FileIdentity& identity) const;
  // Remembers a verification that started at |started| (CLOCK_REALTIME). A
  // file whose time stamps are not clearly older than that start is not
  // remembered: the file system's clock is coarse, and a write in the same
  // tick could leave the identity unchanged.
  void Remember(const std::string& path, const FileIdentity& identity, const timespec& started);
  void Forget(const std::string& path);
  void Clear();

 private:
  static constexpr size_t kMaxEntries = 64;
  mutable std::mutex mutex_;
  std::map<std::string, FileIdentity> verified_;
};

}  // namespace vesk
