#include "vesk/core/ipc/ipc_section.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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
  // Non-blocking: a FIFO planted under the name must not stall the receiver.
  const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
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
  if (!S_ISREG(info.st_mode)) {
    VESK_LOG(ERROR) << "IPC section " << name << " is not a shared-memory object; dropped";
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
  // Copied with pread, never mapped: the sender may shrink the section while
  // it is read, which would fault a mapping. A section that shrank reads as
  // the bytes still there.
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      VESK_PLOG(ERROR) << "Map Existed IPC Shared Memory Failed";
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  if (done == 0) {
    // An empty section holds no message; logged as the mapping of an empty
    // section always failed (EINVAL).
    errno = EINVAL;
    VESK_PLOG(ERROR) << "Map Existed IPC Shared Memory Failed";
    return std::nullopt;
  }
  bytes.resize(done);
  const size_t nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  return bytes;
}

int RemoveLeftoverIpcSections(const std::string& shm_dir) {
  DIR* listing = ::opendir(shm_dir.c_str());
  if (!listing) return 0;
  int removed = 0;
  constexpr std::string_view kPrefix = "vesk_ipc_";
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name(entry->d_name);
    if (name.substr(0, kPrefix.size()) != kPrefix) continue;
    const std::string_view rest = name.substr(kPrefix.size());
    const size_t underscore = rest.find('_');
    if (underscore == std::string_view::npos || underscore == 0 || underscore > 10) continue;
    const std::string pid_text(rest.substr(0, underscore));
    if (pid_text.find_first_not_of("0123456789") != std::string::npos) continue;
    const long long pid = std::stoll(pid_text);
    if (pid <= 0 || pid > INT32_MAX) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // alive (or not ours to judge)
    struct stat info {};
    std::string posix_name(1, '/');
    posix_name.append(name);
    const std::string path = shm_dir + posix_name;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) continue;
    if (::shm_unlink(posix_name.c_str()) == 0) ++removed;
  }
  ::closedir(listing);
  if (removed > 0) VESK_LOG(INFO) << "Removed " << removed << " IPC sections left by ended processes";
  return removed;
}

}  // namespace vesk::ipc
