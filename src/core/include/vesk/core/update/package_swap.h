// Replacing the installed package set so that a crash at any point leaves
// either the old set or the new one, never a mix:
//   1. stage the new set in package_new (every file written and synced),
//   2. mark the staging complete (a marker file, synced, written last),
//   3. swap by renames only: package -> package_old, package_new -> package,
//   4. drop the marker and package_old.
// RecoverPackageSet, run at every start before the packages are used,
// finishes a complete staging and discards an incomplete one.
#pragma once

#include <string>
#include <vector>

namespace vesk::update {

inline constexpr char kPackageDirName[] = "package";
inline constexpr char kStagingDirName[] = "package_new";
inline constexpr char kBackupDirName[] = "package_old";
// Present in package_new only once every staged file is on disk.
inline constexpr char kStagingCompleteMarker[] = ".staging_complete";

// Called before every file operation of a package update and of its
// recovery, with a short name of the operation. For tests that stop the
// process at each of those points; nothing sets it otherwise.
using UpdateStepObserver = void (*)(const char* step);
void SetUpdateStepObserver(UpdateStepObserver observer);

// Brings package, package_new and package_old back to one complete set:
//   package_new complete          -> the swap is finished (the new set);
//   package_new incomplete        -> discarded when package exists; else the
//                                    backup comes back, or (no backup, a
//                                    staging left by other means) it is
//                                    promoted to package;
//   only package and package_old  -> package_old is dropped;
//   only package_old              -> it becomes package again.
void RecoverPackageSet(const std::string& program_dir);

// Stages |new_packages| (copied under their file names) plus every regular
// file directly inside package that they do not replace, then swaps the
// staging in. A missing package directory is logged and created first.
void InstallPackageSet(const std::string& program_dir, const std::vector<std::string>& new_packages);

}  // namespace vesk::update
