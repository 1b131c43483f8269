#include "vesk/core/ipc/ipc_section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vesk/core/ipc/ipc_wire.h"
#include "vesk/core/logging.h"

namespace vesk::ipc {

bool IpcSendSection::Create(const std::string& name, std::string_view text, bool* name_taken) {
  Close();
  if (name_taken) *name_taken = false;
  const size_t size = text.size() + 1;
  const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST && name_taken) {
      *name_taken = true;
      return false;
    }
    VESK_PLOG(ERROR) << "Create IPC Shared Memory Failed";
    return false;
  }
  // From here the name is ours: Close removes it on every path.
  name_ = name;
  fd_ = fd;
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    VESK_PLOG(ERROR) << "Create IPC Shared Memory Failed";
    Close();
    return false;
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) {
    VESK_PLOG(ERROR) << "Map IPC Shared Memory Failed";
    Close();
    return false;
  }
  std::memset(view, 0, size);
  std::memcpy(view, text.data(), text.size());
  ::munmap(view, size);
  return true;
}

void IpcSendSection::Close() {
  if (!name_.empty()) ::shm_unlink(name_.c_str());
  if (fd_ >= 0) ::close(fd_);
  name_.clear();
  fd_ = -1;
}

std::optional<std::string> ReadIpcSection(const std::string& name) {
  const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    VESK_PLOG(ERROR) << "Open Existed IPC Shared Memory Failed";
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    VESK_PLOG(ERROR) << "Open Existed IPC Shared Memory Failed";
    ::close(fd);
    return std::nullopt;
  }
  if (info.st_uid != ::geteuid()) {
    VESK_LOG(ERROR) << "IPC section " << name << " belongs to user " << info.st_uid << "; dropped";
    ::close(fd);
    return std::nullopt;
  }
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (size > kMaxIpcSectionBytes) {
    VESK_LOG(ERROR) << "IPC section " << name << " has " << size << " bytes, more than the limit of "
                    << kMaxIpcSectionBytes << "; dropped";
    ::close(fd);
    return std::nullopt;
  }
  // An empty section cannot be mapped (EINVAL): the same failure as any other.
  void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    VESK_PLOG(ERROR) << "Map Existed IPC Shared Memory Failed";
    ::close(fd);
    return std::nullopt;
  }
  const char* bytes = static_cast<const char*>(view);
  const void* nul = std::memchr(bytes, '\0', static_cast<size_t>(size));
  const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : size;
  std::string text(bytes, length);
  ::munmap(view, static_cast<size_t>(size));
  ::close(fd);
  return text;
}

}  // namespace vesk::ipc
