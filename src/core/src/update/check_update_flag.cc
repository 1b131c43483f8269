#include "vesk/core/update/check_update_flag.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/update/installer_launch.h"
#include "vesk/core/update/package_swap.h"
#include "vesk/core/update/update_flags.h"
#include "vesk/core/update/update_location.h"

namespace vesk::update {
namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// rmdir removes only an empty directory, and never a link.
void RemoveIfEmpty(const std::string& dir) { ::rmdir(dir.c_str()); }

// An installer that ran after the last start: it and its flag go.
void RemoveFinishedInstaller(const std::string& program_dir, const std::string& complete_flag) {
  std::string installer;
  ReadOnePathFromFlagFile(program_dir, complete_flag, &installer);
  if (!installer.empty()) ::unlink(installer.c_str());
  ::unlink(complete_flag.c_str());
  if (installer.empty()) return;
  const std::string directory = DirName(installer);
  if (::rmdir(directory.c_str()) == 0)
    VESK_LOG(INFO) << "Update: Update Package Directory Is Empty, Then Delete It :" << directory;
}

// True when the installer is running.
bool StartPendingInstaller(const std::string& program_dir, const std::string& pending_flag,
                           const std::string& complete_flag) {
  std::string installer;
  if (!ReadOnePathFromFlagFile(program_dir, pending_flag, &installer)) {
    ::unlink(pending_flag.c_str());
    return false;
  }
  if (!LaunchInstaller(installer, program_dir)) {
    VESK_PLOG(WARNING) << "Update: Launch Update Package Failed : " << LogSafe(installer);
    ::unlink(pending_flag.c_str());
    return false;
  }
  ::rename(pending_flag.c_str(), complete_flag.c_str());
  return true;
}

}  // namespace

bool CheckUpdateFlag(const std::string& program_dir, bool* installer_started) {
  *installer_started = false;
  if (program_dir.empty()) {
    VESK_LOG(WARNING) << "Update: GetDirPath Failed";
    return false;
  }
  const std::string update_dir = UpdateDirectory(program_dir);
  const std::string complete_flag = JoinPath(update_dir, kCompleteFlagName);
  const std::string pending_flag = JoinPath(update_dir, kUpdateFlagName);
  const bool complete = IsFile(complete_flag);
  const bool pending = IsFile(pending_flag);
  VESK_LOG(INFO) << "Update: CheckUpdateFlag: update_flag_file(" << pending_flag
                 << (pending ? ") exist;" : ") not exist;") << "complete_flag_file(" << complete_flag
                 << (complete ? ") exist" : ") not exist");
  if (complete && pending) {
    ::unlink(complete_flag.c_str());
    ::unlink(pending_flag.c_str());
  } else if (complete) {
    RemoveFinishedInstaller(program_dir, complete_flag);
  } else if (pending) {
    *installer_started = StartPendingInstaller(program_dir, pending_flag, complete_flag);
  }
  if (*installer_started)
    ::unlink(JoinPath(update_dir, kQbunFlagName).c_str());  // a pending package update is abandoned
  else
    CheckUpdateFlagForQbun(program_dir);
  RemoveIfEmpty(update_dir);
  return true;
}

bool CheckUpdateFlagForQbun(const std::string& program_dir) {
  if (program_dir.empty()) {
    VESK_LOG(WARNING) << "Update: GetDirPath Failed";
    return false;
  }
  const std::string package = JoinPath(program_dir, kPackageDirName);
  const std::string staging = JoinPath(program_dir, kStagingDirName);
  VESK_LOG(INFO) << "Update: CheckUpdateFlagForQbun: package directory(" << package
                 << (IsDirectory(package) ? ") exist;" : ") not exist;") << "package_new directory("
                 << staging << (IsDirectory(staging) ? ") exist" : ") not exist");
  RecoverPackageSet(program_dir);
  const std::string flag = JoinPath(UpdateDirectory(program_dir), kQbunFlagName);
  const bool exists = IsFile(flag);
  VESK_LOG(INFO) << "Update: CheckUpdateFlagForQbun: Qbun Flag File(" << flag
                 << (exists ? ") exist" : ") not exist");
  if (exists) DoUpdateWorkForQbnu(program_dir, flag);
  return true;
}

void DoUpdateWorkForQbnu(const std::string& program_dir, const std::string& flag_path) {
  std::vector<std::string> packages;
  const bool read = ReadValidPathFromFlagFile(program_dir, flag_path, &packages);
  ::unlink(flag_path.c_str());
  if (!read) return;
  // After the first failure the rest are not looked at; nothing is
  // installed and the downloads stay.
  for (const std::string& path : packages)
    if (!VerifyPackage(path)) return;
  InstallPackageSet(program_dir, packages);
  for (const std::string& path : packages) ::unlink(path.c_str());
  RemoveIfEmpty(UpdateDirectory(program_dir));
}

}  // namespace vesk::update
