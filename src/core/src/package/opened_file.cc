#include "vesk/core/package/opened_file.h"

#include <fcntl.h>
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

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OpenedFile::Open(const std::string& path, uint64_t max_bytes) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  return true;
}

bool OpenedFile::Unchanged() const {
  struct stat info {};
  return fd_ >= 0 && ::fstat(fd_, &info) == 0 && IdentityOf(info) == identity_;
}

bool OpenedFile::ReadAll(std::vector<uint8_t>* bytes) const {
  if (fd_ < 0) return false;
  const auto size = static_cast<size_t>(identity_.size);
  bytes->resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd_, bytes->data() + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace vesk
