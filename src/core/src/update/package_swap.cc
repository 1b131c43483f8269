#include "vesk/core/update/package_swap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <set>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk::update {
namespace {

UpdateStepObserver g_observer = nullptr;

void Step(const char* name) {
  if (g_observer) g_observer(name);
}

struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

bool IsRegular(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsRealDirectory(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void SyncPath(const std::string& path) {
  Step("fsync");
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.fd >= 0) ::fsync(fd.fd);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Copies a regular file and syncs the copy; replaces |to|, never through a link.
bool CopyDurably(const std::string& from, const std::string& to) {
  Step("copy: open");
  const Fd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (in.fd < 0 || ::fstat(in.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.fd < 0) return false;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  while (true) {
    const ssize_t got = ::read(in.fd, buffer.get(), 1 << 20);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (!WriteAll(out.fd, buffer.get(), static_cast<size_t>(got))) return false;
  }
  Step("copy: fsync");
  return ::fsync(out.fd) == 0;
}

bool RenameDurably(const std::string& program_dir, const std::string& from, const std::string& to) {
  Step("rename");
  if (::rename(from.c_str(), to.c_str()) != 0) {
    VESK_PLOG(WARNING) << "Update: cannot rename " << from << " to " << to;
    return false;
  }
  SyncPath(program_dir);
  return true;
}

// Removes a directory tree without following links; what cannot be removed
// stays.
void RemoveTree(const std::string& path) {
  if (IsRealDirectory(path)) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    for (const std::string& name : names) RemoveTree(JoinPath(path, name));
    Step("remove directory");
    ::rmdir(path.c_str());
  } else {
    Step("remove file");
    ::unlink(path.c_str());
  }
}

std::vector<std::string> RegularFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* handle = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(handle)) {
      const std::string name = entry->d_name;
      if (name != kStagingCompleteMarker && IsRegular(JoinPath(dir, name))) names.push_back(name);
    }
    ::closedir(handle);
  }
  return names;
}

bool MarkStagingComplete(const std::string& staging) {
  Step("marker: create");
  const std::string marker = JoinPath(staging, kStagingCompleteMarker);
  const Fd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (fd.fd < 0 || ::fsync(fd.fd) != 0) return false;
  SyncPath(staging);
  return true;
}

// package may be a link to the directory that holds the set (it is then
// followed for reading and replaced as a link); package_new and
// package_old are ours and never links.
struct Dirs {
  explicit Dirs(const std::string& program)
      : program_dir(program),
        package(JoinPath(program, kPackageDirName)),
        staging(JoinPath(program, kStagingDirName)),
        backup(JoinPath(program, kBackupDirName)) {}
  std::string program_dir, package, staging, backup;
};

void DropMarkerInPackage(const Dirs& dirs) {
  const std::string marker = JoinPath(dirs.package, kStagingCompleteMarker);
  if (!PathExists(marker)) return;
  Step("marker: remove");
  ::unlink(marker.c_str());
  SyncPath(dirs.package);
}

// From a complete staging: package -> package_old (when there is a
// package), package_new -> package, then the leftovers go.
void FinishSwap(const Dirs& dirs) {
  if (IsDirectory(dirs.package)) {
    // A backup from an earlier update would block the rename.
    if (PathExists(dirs.backup)) RemoveTree(dirs.backup);
    if (!RenameDurably(dirs.program_dir, dirs.package, dirs.backup)) return;
  }
  if (!RenameDurably(dirs.program_dir, dirs.staging, dirs.package)) return;
  DropMarkerInPackage(dirs);
  if (PathExists(dirs.backup)) {
    RemoveTree(dirs.backup);
    SyncPath(dirs.program_dir);
  }
}

}  // namespace

void SetUpdateStepObserver(UpdateStepObserver observer) { g_observer = observer; }

void RecoverPackageSet(const std::string& program_dir) {
  const Dirs dirs(program_dir);
  const bool package = IsDirectory(dirs.package);
  const bool staging = IsRealDirectory(dirs.staging);
  const bool backup = IsRealDirectory(dirs.backup);
  if (staging && PathExists(JoinPath(dirs.staging, kStagingCompleteMarker))) {
    VESK_LOG(WARNING) << "Update: finishing the interrupted package swap of " << dirs.staging;
    FinishSwap(dirs);
    return;
  }
  if (staging) {
    if (package) {
      VESK_LOG(WARNING) << "Update: discarding the unfinished staging " << dirs.staging;
      RemoveTree(dirs.staging);
    } else if (backup) {
      VESK_LOG(WARNING) << "Update: restoring " << dirs.package << " from " << dirs.backup;
      if (RenameDurably(program_dir, dirs.backup, dirs.package)) RemoveTree(dirs.staging);
    } else {
      VESK_LOG(WARNING) << "Update: promoting " << dirs.staging << " to " << dirs.package;
      RenameDurably(program_dir, dirs.staging, dirs.package);
    }
  } else if (backup) {
    if (package) {
      RemoveTree(dirs.backup);
      SyncPath(program_dir);
    } else {
      VESK_LOG(WARNING) << "Update: restoring " << dirs.package << " from " << dirs.backup;
      RenameDurably(program_dir, dirs.backup, dirs.package);
    }
  }
  if (IsDirectory(dirs.package)) DropMarkerInPackage(dirs);
}

void InstallPackageSet(const std::string& program_dir, const std::vector<std::string>& new_packages) {
  const Dirs dirs(program_dir);
  // A staging is always built from scratch, so nothing stale mixes in.
  if (PathExists(dirs.staging)) RemoveTree(dirs.staging);
  Step("mkdir package_new");
  if (::mkdir(dirs.staging.c_str(), 0755) != 0) {
    VESK_PLOG(WARNING) << "Update: cannot create " << dirs.staging;
    return;
  }
  if (!IsDirectory(dirs.package)) {
    VESK_LOG(WARNING) << "When DoUpdateWorkForQbnu, package directory(" << dirs.package << ") should exist";
    Step("mkdir package");
    ::mkdir(dirs.package.c_str(), 0755);
  }
  std::set<std::string> staged;
  bool complete = true;
  for (const std::string& path : new_packages) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    complete = CopyDurably(path, JoinPath(dirs.staging, name)) && complete;
    staged.insert(name);
  }
  // Packages the update does not name stay installed.
  for (const std::string& name : RegularFilesIn(dirs.package)) {
    if (staged.count(name)) continue;
    complete = CopyDurably(JoinPath(dirs.package, name), JoinPath(dirs.staging, name)) && complete;
  }
  SyncPath(dirs.staging);
  // A staging that could not be written whole is never swapped in: the old
  // set stays.
  if (!complete || !MarkStagingComplete(dirs.staging)) {
    VESK_PLOG(WARNING) << "Update: could not stage the new package set in " << dirs.staging;
    RemoveTree(dirs.staging);
    return;
  }
  FinishSwap(dirs);
}

}  // namespace vesk::update
