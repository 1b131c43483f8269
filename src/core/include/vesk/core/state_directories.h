// Where the program writes.
//
// The program directory holds local storage, the engine's data, the log and
// update/ when the user may write it (a program unpacked into a home
// directory, the build tree). An installed program's directory belongs to the
// package manager and is not writable: then local storage and the engine's
// data go to $XDG_DATA_HOME/<app>/, its caches to $XDG_CACHE_HOME/<app>/, the
// log to $XDG_STATE_HOME/<app>/, and updates are the package manager's job.
#pragma once

#include <functional>
#include <string>

namespace vesk {

// Reads one environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;
// The process environment.
EnvironmentLookup ProcessEnvironment();

// The directories the embedding program asked for; empty: not asked.
struct AskedDirectories {
  std::string data;
  std::string cache;
  std::string log;
};

struct StateDirectories {
  std::string program_dir;
  // The program directory cannot be written: state lives in per-user places.
  bool per_user = false;
  std::string data_dir;   // local storage, IndexedDB, cookies; empty: engine default
  std::string cache_dir;  // the engine's caches; empty: engine default
  std::string log_dir;
  // Whether the program may change package/ and update/ itself.
  bool updates_allowed() const { return !per_user; }  // same as UpdatesAllowed(program_dir)
};

// Whether this process may create files in |dir|. A directory that does not
// exist yet counts as writable when its nearest existing ancestor is.
bool CanWriteDirectory(const std::string& dir);

// Whether the program may change package/ and update/ below
// |program_dir| itself: false in an installation the package manager owns.
// (The web process passes the program directory it was told; its own
// executable is the engine's.)
bool UpdatesAllowed(const std::string& program_dir);

// The XDG base directories of the user (absolute values of the variables,
// else the defaults below $HOME).
std::string UserDataHome(const EnvironmentLookup& env);
std::string UserCacheHome(const EnvironmentLookup& env);
std::string UserStateHome(const EnvironmentLookup& env);

// Keeps every asked directory while the program directory is writable. When
// it is not, each asked directory that cannot be written (and the cache,
// also when not asked) is replaced by its per-user place for |app_name|.
StateDirectories ResolveStateDirectories(const std::string& program_dir, const std::string& app_name,
                                         const AskedDirectories& asked, const EnvironmentLookup& env);
// The same for this process: the running executable's directory and name.
StateDirectories ResolveStateDirectories(const AskedDirectories& asked);

// Creates the per-user directories (mode 0700) that |dirs| uses.
void CreateStateDirectories(const StateDirectories& dirs);

// The line the log carries once when state lives in per-user places.
std::string DescribeStateDirectories(const StateDirectories& dirs);

// A directory of this user inside the shared temporary directory
// |temp_dir|: "<temp_dir>/vesk-<uid>", mode 0700, owned by us and not a
// link, so no other user can read or plant files in it. When that name is
// taken by something else, a fresh private directory of this process is
// used instead. Empty when neither can be made.
std::string PrivateTempDirectory(const std::string& temp_dir);

}  // namespace vesk
