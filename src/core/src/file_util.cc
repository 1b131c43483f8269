#include "vesk/core/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "vesk/core/logging.h"

namespace vesk {

bool ReadFileToString(const std::string& path, std::string* contents, size_t max_bytes) {
  // Non-blocking, then checked to be a regular file: a FIFO never stalls us.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<unsigned long long>(info.st_size) > max_bytes) {
    ::close(fd);
    return false;
  }
  std::string data;
  data.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  // The file may shrink or grow while it is read; read what is there, up to
  // the limit, and never past the buffer.
  while (true) {
    if (done == data.size()) {
      if (data.size() >= max_bytes) break;
      data.resize(std::min(max_bytes, data.size() + 65536));
    }
    const ssize_t got = ::read(fd, data.data() + done, data.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  char probe;
  const bool too_big = done == max_bytes && ::read(fd, &probe, 1) > 0;
  ::close(fd);
  if (too_big) return false;
  data.resize(done);
  *contents = std::move(data);
  return true;
}

bool WriteStringToFile(const std::string& path, std::string_view contents) {
  // A FIFO without a reader fails here (ENXIO) instead of waiting for one.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  const char* data = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      ::close(fd);
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return ::close(fd) == 0;
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
  if (length <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string DirName(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string ProgramDirectory() { return DirName(ExecutablePath()); }

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

bool CreateDirectoryRecursive(const std::string& dir) {
  if (dir.empty()) return false;
  if (IsDirectory(dir)) return true;
  std::vector<std::string> missing;
  std::string current = dir;
  while (!current.empty() && current != "/" && current != "." && !IsDirectory(current)) {
    missing.push_back(current);
    current = DirName(current);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) {
      VESK_PLOG(WARNING) << "I try my best to create directory " << *it << ", but I failed.";
      return false;
    }
  }
  return true;
}

}  // namespace vesk
