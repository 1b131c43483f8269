#include "vesk/core/update/update_flags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/state_directories.h"
#include "vesk/core/update/update_location.h"
#include "vesk/core/version_text.h"

namespace vesk::update {
namespace {

// A flag holds a few file names; anything larger is not a flag of ours.
constexpr size_t kMaxFlagBytes = 64 * 1024;

bool EndsWithQbun(const std::string& name) {
  static constexpr std::string_view kSuffix = ".qbun";
  if (name.size() < kSuffix.size()) return false;
  for (size_t i = 0; i < kSuffix.size(); ++i) {
    const char c = name[name.size() - kSuffix.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kSuffix[i]) return false;
  }
  return true;
}

bool EnsureDirectory(const std::string& dir) {
  return IsDirectory(dir) || ::mkdir(dir.c_str(), 0755) == 0 || IsDirectory(dir);
}

// The flag file's bytes; never follows a link, never waits on a FIFO.
bool ReadFlagBytes(const std::string& path, std::string* contents) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular && ReadFileToString(path, contents, kMaxFlagBytes);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string LogSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

bool WriteUpdateFlagFile(const std::string& program_dir, const std::string& flag_name,
                         std::string_view content) {
  if (program_dir.empty()) {
    VESK_LOG(WARNING) << "Update: GetDirPath Failed";
    return false;
  }
  const std::string update_dir = UpdateDirectory(program_dir);
  const std::string flag_path = JoinPath(update_dir, flag_name);
  int fd = -1;
  // An installation the package manager owns is not ours to update.
  if (!UpdatesAllowed(program_dir))
    errno = EACCES;
  else if (EnsureDirectory(update_dir))
    fd = ::open(flag_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(fd);
    fd = -1;
    errno = EINVAL;
  }
  ssize_t written = -1;
  if (fd >= 0) {
    do {
      written = ::write(fd, content.data(), content.size());
    } while (written < 0 && errno == EINTR);
  }
  const int saved_errno = errno;
  if (fd >= 0 && ::close(fd) != 0 && written >= 0) written = -1;
  errno = saved_errno;
  if (written < 0) {
    VESK_PLOG(WARNING) << "Update: Write Update Flag File Failed, "
                       << "Update File(" << flag_path << "), Update Package Name(" << LogSafe(content) << ")";
    ::unlink(flag_path.c_str());
    return false;
  }
  if (static_cast<size_t>(written) != content.size()) {
    VESK_LOG(WARNING) << "Update: Write Update Flag File Not Complete,"
                      << "Should Write " << content.size() << "byte(s)(" << LogSafe(content)
                      << "), But Write " << written << "byte(s), Update File(" << flag_path << ")";
    ::unlink(flag_path.c_str());
    return false;
  }
  VESK_LOG(INFO) << "Update: Create Update File Success, Update File(" << flag_path
                 << "), Update Package Path(" << LogSafe(content) << ")";
  return true;
}

bool SetUpdateFlag(const std::string& program_dir, std::string_view installer_name) {
  return WriteUpdateFlagFile(program_dir, kUpdateFlagName, installer_name);
}

std::string JoinQbunNames(const std::vector<std::string>& names) {
  std::string joined;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) joined += '|';
    joined += names[i];
    if (!EndsWithQbun(names[i])) joined += ".qbun";
  }
  return joined;
}

bool SetQbunUpdateFlag(const std::string& program_dir, const std::vector<std::string>& names) {
  return WriteUpdateFlagFile(program_dir, kQbunFlagName, JoinQbunNames(names));
}

bool ReadValidPathFromFlagFile(const std::string& program_dir, const std::string& flag_path,
                               std::vector<std::string>* paths) {
  std::string raw;
  if (!ReadFlagBytes(flag_path, &raw)) {
    VESK_LOG(WARNING) << "Update: Read Content From Flag File Failed : " << flag_path;
    return false;
  }
  if (program_dir.empty()) {
    VESK_LOG(WARNING) << "Update: GetDirPath Failed";
    return false;
  }
  const std::string update_dir = UpdateDirectory(program_dir);
  paths->clear();
  size_t start = 0;
  while (true) {
    const size_t bar = raw.find('|', start);
    const std::string piece =
        TrimWhitespace(raw.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    // Logged as the plain join; a name that could leave the directory
    // counts as a file that does not exist.
    const std::string candidate = JoinPath(update_dir, piece);
    const auto resolved = ResolveUpdateEntry(update_dir, piece);
    if (!resolved || !IsRegularFile(*resolved)) {
      VESK_LOG(WARNING) << "Update: ReadValidPathFromFlagFile(" << flag_path
                        << ") failed : update_package_path(" << LogSafe(candidate)
                        << ") doesn't exist, raw content(" << LogSafe(raw);
      return false;
    }
    paths->push_back(*resolved);
    VESK_LOG(INFO) << "Update: ReadValidPathFromFlagFile(" << flag_path << ") report " << LogSafe(*resolved);
    if (bar == std::string::npos) return true;
    start = bar + 1;
  }
}

bool ReadOnePathFromFlagFile(const std::string& program_dir, const std::string& flag_path,
                             std::string* path) {
  std::vector<std::string> paths;
  ReadValidPathFromFlagFile(program_dir, flag_path, &paths);
  if (paths.empty()) {
    VESK_LOG(WARNING) << "Update: ReadValidPathFromFlagFile(" << flag_path << ") report empty";
    return false;
  }
  if (paths.size() == 1) {
    *path = paths.front();
    return true;
  }
  VESK_LOG(WARNING) << "Update: ReadValidPathFromFlagFile(" << flag_path
                    << ") should report only one path, but actually it report " << paths.size()
                    << " paths, they are" << LogSafe(paths[0]) << " " << LogSafe(paths[1]) << " "
                    << (paths.size() > 2 ? LogSafe(paths[2]) : std::string())
                    << (paths.size() > 3 ? " etc." : "");
  return false;
}

}  // namespace vesk::update
