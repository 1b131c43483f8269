#include "vesk/core/state_directories.h"

#include <fcntl.h>
#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

constexpr char kPrivateTempPrefix[] = "vesk-";

std::string HomeDirectory(const EnvironmentLookup& env) {
  const char* home = env("HOME");
  if (home && *home) return home;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir)
    return result->pw_dir;
  return "/";
}

// An XDG variable counts only with an absolute path; otherwise the default
// below the home directory applies.
std::string XdgDirectory(const EnvironmentLookup& env, const char* variable, const char* below_home) {
  const char* value = env(variable);
  if (value && value[0] == '/') return value;
  return JoinPath(HomeDirectory(env), below_home);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A directory we own, no link, no access for group or others. A directory of
// ours with a looser mode is tightened.
bool IsOurPrivateDirectory(const std::string& dir) {
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
  if ((info.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return false;
  return true;
}

}  // namespace

EnvironmentLookup ProcessEnvironment() {
  return [](const char* name) -> const char* { return std::getenv(name); };
}

bool CanWriteDirectory(const std::string& dir) {
  if (dir.empty()) return false;
  std::string existing = dir;
  struct stat info {};
  while (::stat(existing.c_str(), &info) != 0) {
    if (errno != ENOENT || existing == "/" || existing.find('/') == std::string::npos) return false;
    existing = DirName(existing);
    if (existing.empty()) existing.assign(1, '/');  // not = "/": GCC 12 at -O3 warns falsely (-Wrestrict)
  }
  return S_ISDIR(info.st_mode) && ::faccessat(AT_FDCWD, existing.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool UpdatesAllowed(const std::string& program_dir) { return CanWriteDirectory(program_dir); }

std::string UserDataHome(const EnvironmentLookup& env) {
  return XdgDirectory(env, "XDG_DATA_HOME", ".local/share");
}
std::string UserCacheHome(const EnvironmentLookup& env) {
  return XdgDirectory(env, "XDG_CACHE_HOME", ".cache");
}
std::string UserStateHome(const EnvironmentLookup& env) {
  return XdgDirectory(env, "XDG_STATE_HOME", ".local/state");
}

StateDirectories ResolveStateDirectories(const std::string& program_dir, const std::string& app_name,
                                         const AskedDirectories& asked, const EnvironmentLookup& env) {
  StateDirectories dirs;
  dirs.program_dir = program_dir;
  dirs.data_dir = asked.data;
  dirs.cache_dir = asked.cache;
  dirs.log_dir = asked.log;
  dirs.per_user = !CanWriteDirectory(program_dir);
  if (!dirs.per_user) return dirs;
  const auto per_user = [](const std::string& asked_dir, const std::string& fallback) {
    return !asked_dir.empty() && CanWriteDirectory(asked_dir) ? asked_dir : fallback;
  };
  dirs.data_dir = per_user(asked.data, JoinPath(UserDataHome(env), app_name));
  dirs.cache_dir = per_user(asked.cache, JoinPath(UserCacheHome(env), app_name));
  dirs.log_dir = per_user(asked.log, JoinPath(UserStateHome(env), app_name));
  return dirs;
}

StateDirectories ResolveStateDirectories(const AskedDirectories& asked) {
  return ResolveStateDirectories(ProgramDirectory(), BaseName(ExecutablePath()), asked, ProcessEnvironment());
}

void CreateStateDirectories(const StateDirectories& dirs) {
  if (!dirs.per_user) return;
  for (const std::string* dir : {&dirs.data_dir, &dirs.cache_dir, &dirs.log_dir})
    if (!dir->empty()) g_mkdir_with_parents(dir->c_str(), 0700);
}

std::string DescribeStateDirectories(const StateDirectories& dirs) {
  return "The program directory " + dirs.program_dir +
         " is not writable: local storage and the engine's data go to " + dirs.data_dir + ", its caches to " +
         dirs.cache_dir + ", the log to " + dirs.log_dir + "; updates are left to the package manager.";
}

std::string PrivateTempDirectory(const std::string& temp_dir) {
  std::string base = temp_dir.empty() ? std::string(g_get_tmp_dir()) : temp_dir;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string dir = JoinPath(base, kPrivateTempPrefix + std::to_string(::geteuid()));
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    VESK_PLOG(WARNING) << "Cannot create the private temporary directory " << dir;
    return std::string();
  }
  if (IsOurPrivateDirectory(dir)) return dir;
  // Someone else holds the name: a directory of this process's own, made
  // once per temporary directory.
  static std::mutex mutex;
  static std::map<std::string, std::string> fallbacks;
  const std::lock_guard<std::mutex> lock(mutex);
  std::string& fallback = fallbacks[base];
  if (fallback.empty() || !IsOurPrivateDirectory(fallback)) {
    std::string pattern = dir + "-XXXXXX";
    fallback = ::mkdtemp(pattern.data()) ? pattern : std::string();
    VESK_LOG(WARNING) << dir << " is not a private directory of this user; using "
                      << (fallback.empty() ? std::string("none") : fallback) << " instead";
  }
  return fallback;
}

}  // namespace vesk
