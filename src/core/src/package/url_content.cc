#include "vesk/core/package/url_content.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/state_directories.h"

namespace vesk {
namespace {

constexpr char kScheme[] = "vesk";
constexpr char kPackageDirSuffix[] = "-package-dir";
constexpr char kDumpSuffix[] = ".qbun.extracted";

std::string TrimSlashes(std::string_view path) {
  const size_t first = path.find_first_not_of('/');
  if (first == std::string_view::npos) return std::string();
  const size_t last = path.find_last_not_of('/');
  return std::string(path.substr(first, last - first + 1));
}

// Whether a relative path, split at '/' and '\', climbs out with "..".
bool HasParentComponent(std::string_view path) {
  while (true) {
    const size_t separator = path.find_first_of("/\\");
    if (path.substr(0, separator) == "..") return true;
    if (separator == std::string_view::npos) return false;
    path.remove_prefix(separator + 1);
  }
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool IsInside(const std::string& path, const std::string& dir) {
  if (dir.empty() || path.empty()) return false;
  if (dir == "/") return path.size() > 1;
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

// Reads exactly |size| bytes; false when fewer arrived.
bool ReadExactly(int fd, size_t size, std::vector<uint8_t>* buffer) {
  buffer->assign(size, 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, buffer->data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool LoadOverrideFile(const std::string& dir, const std::string& relative, std::vector<uint8_t>* bytes) {
  const std::string file = JoinPath(dir, relative);
  if (!PathExists(file) || IsDirectory(file)) return false;
  if (HasParentComponent(relative)) {
    VESK_LOG(WARNING) << "Refusing " << file << ": the path leaves " << dir;
    return false;
  }
  // Non-blocking, and only a regular file is read: a FIFO (or a device)
  // in the directory must not stall the IO worker.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    VESK_PLOG(WARNING) << "GetFileSize" << file << "failed";
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    VESK_LOG(WARNING) << "Refusing " << file << ": not a regular file";
    ::close(fd);
    return false;
  }
  // What was opened must lie inside the directory, whatever symbolic links
  // the path went through.
  const std::string opened = RealPath("/proc/self/fd/" + std::to_string(fd));
  if (!IsInside(opened, RealPath(dir))) {
    VESK_LOG(WARNING) << "Refusing " << file << ": it resolves to " << opened << " outside " << dir;
    ::close(fd);
    return false;
  }
  const long long size = info.st_size;
  if (size > INT32_MAX) {
    // The body is counted in 32 bits; such a file is not served.
    VESK_LOG(WARNING) << file << "Is too large: " << size;
    ::close(fd);
    return false;
  }
  if (size <= 0) {
    ::close(fd);
    return false;
  }
  std::vector<uint8_t> buffer;
  if (!ReadExactly(fd, static_cast<size_t>(size), &buffer)) {
    VESK_PLOG(WARNING) << "Read " << file << " failed(" << -1 << " vs " << size << ")";
    ::close(fd);
    return false;
  }
  ::close(fd);
  *bytes = std::move(buffer);
  return true;
}

// Writes |bytes| to |target| through a fresh file that replaces it, so a
// link planted at the target's name is replaced, not followed.
bool ReplaceFile(const std::string& target, const std::vector<uint8_t>& bytes) {
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(written);
  }
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

bool SplitUrl(const std::string& url, UrlParts* parts) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  const size_t slash = url.find_first_of("/?#");
  if (slash != std::string::npos && slash < colon) return false;
  *parts = UrlParts();
  parts->scheme = url.substr(0, colon);
  size_t position = colon + 1;
  if (url.compare(position, 2, "//") == 0) {
    position += 2;
    const size_t end = url.find_first_of("/?#", position);
    std::string authority =
        url.substr(position, end == std::string::npos ? std::string::npos : end - position);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    const size_t port = authority.find(':');
    // A host is case-insensitive: "vesk://Main/" names the package "main".
    parts->host = authority.substr(0, port);
    for (char& c : parts->host) c = g_ascii_tolower(c);
    position = end == std::string::npos ? url.size() : end;
  }
  const size_t path_end = url.find_first_of("?#", position);
  parts->path = url.substr(position, path_end == std::string::npos ? std::string::npos : path_end - position);
  return true;
}

bool LoadUrlContent(const std::string& url, const std::string& program_dir, const CommandLine& command_line,
                    std::vector<uint8_t>* bytes) {
  UrlParts parts;
  if (!SplitUrl(url, &parts) || parts.scheme != kScheme) return false;
  const std::string path = TrimSlashes(parts.path);
  const std::string override_dir = command_line.GetSwitchValue(parts.host + kPackageDirSuffix);
  if (!override_dir.empty()) return LoadOverrideFile(override_dir, path, bytes);
  const std::string package = JoinPath(JoinPath(program_dir, "package"), parts.host + ".qbun");
  if (!PathExists(package) || IsDirectory(package)) {
    VESK_LOG(WARNING) << "package file " << package << " doesn't exist";
    return false;
  }
  return ReadFileFromPackage(package, path, bytes);
}

bool LoadUrlContent(const std::string& url, std::vector<uint8_t>* bytes) {
  return LoadUrlContent(url, ProgramDirectory(), CommandLine::ForCurrentProcess(), bytes);
}

bool DumpUrlToTempFile(const std::string& url, const std::string& program_dir,
                       const CommandLine& command_line, const std::string& temp_dir, std::string* path) {
  std::vector<uint8_t> bytes;
  if (!LoadUrlContent(url, program_dir, command_line, &bytes) || bytes.empty()) {
    VESK_LOG(WARNING) << "Try to dump url(" << url << ") content to memory, but failed.";
    return false;
  }
  UrlParts parts;
  SplitUrl(url, &parts);
  // The URL path becomes a path below the temporary directory; it may not
  // climb out of it.
  std::string relative = parts.path;
  if (relative.empty() || relative[0] != '/') relative.insert(relative.begin(), '/');
  if (HasParentComponent(relative.substr(1))) {
    VESK_LOG(WARNING) << "Refusing to dump url(" << url << ") outside " << temp_dir;
    return false;
  }
  // Below this user's private directory: fixed names in the shared
  // temporary directory would collide with other users' files, and another
  // user could plant one there.
  const std::string base = PrivateTempDirectory(temp_dir);
  if (base.empty()) return false;
  const std::string target = base + relative + kDumpSuffix;
  const std::string parent = DirName(target);
  CreateDirectoryRecursive(parent);
  const std::string real_parent = RealPath(parent);
  if (real_parent != RealPath(base) && !IsInside(real_parent, RealPath(base))) {
    VESK_LOG(WARNING) << "Refusing to dump url(" << url << ") outside " << temp_dir;
    return false;
  }
  // A file that could not be written must not pass for the content: an
  // older file of the same name would be read instead.
  if (!ReplaceFile(target, bytes)) {
    VESK_PLOG(WARNING) << "Cannot write " << target;
    return false;
  }
  *path = target;
  return true;
}

bool DumpUrlToTempFile(const std::string& url, std::string* path) {
  return DumpUrlToTempFile(url, ProgramDirectory(), CommandLine::ForCurrentProcess(), g_get_tmp_dir(), path);
}

}  // namespace vesk
