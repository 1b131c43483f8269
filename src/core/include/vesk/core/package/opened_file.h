// A whole regular file read into memory, with the identity the file had when
// it was opened. Another process may rewrite, shrink or replace the file; the
// bytes held here never change (a mapping would fault when the file shrinks).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vesk {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& other) const;
};

// An open regular file from outside: opened without waiting for a writer
// (a FIFO never blocks us) and checked to be a regular file no larger than a
// bound before anything is read.
class OpenedFile {
 public:
  OpenedFile() = default;
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  // False (errno set: EISDIR for anything but a regular file, EFBIG beyond
  // |max_bytes|) when the file cannot be used.
  bool Open(const std::string& path, uint64_t max_bytes);
  const FileIdentity& identity() const { return identity_; }
  // Whether the open file still has the identity it was opened with.
  bool Unchanged() const;
  // Reads the whole file as it was opened (identity().size bytes) with
  // pread. False when the file is shorter now.
  bool ReadAll(std::vector<uint8_t>* bytes) const;

 private:
  int fd_ = -1;
  FileIdentity identity_;
};

}  // namespace vesk
