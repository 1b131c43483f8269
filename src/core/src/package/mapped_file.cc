#include "vesk/core/package/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vesk {
namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = info.st_size;
  identity.modified = info.st_mtim;
  identity.changed = info.st_ctim;
  return identity;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

MappedFile::~MappedFile() {
  if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
  if (fd_ >= 0) ::close(fd_);
}

bool MappedFile::Open(const std::string& path, uint64_t max_bytes) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > max_bytes) {
    errno = EFBIG;
    return false;
  }
  identity_ = IdentityOf(info);
  size_ = static_cast<size_t>(info.st_size);
  if (size_ == 0) return true;
  // Private and read-only: nothing we do reaches the file. Packages are
  // replaced by rename, which leaves this mapping on the old inode.
  void* mapping = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
  if (mapping == MAP_FAILED) {
    size_ = 0;
    return false;
  }
  data_ = static_cast<const uint8_t*>(mapping);
  return true;
}

bool MappedFile::Unchanged() const {
  struct stat info {};
  return fd_ >= 0 && ::fstat(fd_, &info) == 0 && IdentityOf(info) == identity_;
}

void MappedFile::WillReadAll() const {
  if (!data_) return;
  ::madvise(const_cast<uint8_t*>(data_), size_, MADV_SEQUENTIAL);
  ::madvise(const_cast<uint8_t*>(data_), size_, MADV_WILLNEED);
}

}  // namespace vesk
