#include "vesk/core/runtime_dir.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

bool IsPrivateDirectory(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// The session's directory only has to keep others from creating or
// replacing names in it; what we create inside is 0700 itself.
bool IsUsableRuntimeDirectory(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
}

}  // namespace

bool EnsurePrivateDirectory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    VESK_PLOG(ERROR) << "Cannot create the private directory " << dir;
    return false;
  }
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0) {
    VESK_PLOG(ERROR) << "Cannot inspect the private directory " << dir;
    return false;
  }
  if (!IsPrivateDirectory(info)) {
    VESK_LOG(ERROR) << "The directory " << dir
                    << " is not a private directory of this user (mode 0700); refused";
    return false;
  }
  return true;
}

std::string PrivateRuntimeDirectory() {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  // The session's own directory may be reached through a link; what counts
  // is the directory itself.
  if (runtime_dir && runtime_dir[0] == '/' && ::stat(runtime_dir, &info) == 0 &&
      IsUsableRuntimeDirectory(info))
    return runtime_dir;
  const std::string fallback = JoinPath(g_get_tmp_dir(), "vesk-" + std::to_string(::geteuid()));
  return EnsurePrivateDirectory(fallback) ? fallback : std::string();
}

}  // namespace vesk
