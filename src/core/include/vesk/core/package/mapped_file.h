// A read-only memory mapping of a whole regular file, with the identity the
// file had when it was mapped.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace vesk {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& other) const;
};

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False (errno set) when the file cannot be opened, is not a regular file
  // or is larger than |max_bytes|. An empty file maps to size 0.
  bool Open(const std::string& path, uint64_t max_bytes);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  const FileIdentity& identity() const { return identity_; }
  // Whether the open file still has the identity it was mapped with.
  bool Unchanged() const;
  // Asks the kernel to read the whole file ahead (before a full pass).
  void WillReadAll() const;

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  FileIdentity identity_;
};

}  // namespace vesk
