// Where the program writes: its own directory when writable, per-user XDG
// places otherwise; the private temporary directory.
#include "vesk/core/state_directories.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "test_util.h"

namespace vesk {
namespace {

using testing::LogCapture;
using testing::TempDir;

constexpr uid_t kNobody = 65534;

EnvironmentLookup FakeEnvironment(const std::map<std::string, std::string>& values) {
  return [values](const char* name) -> const char* {
    const auto it = values.find(name);
    return it == values.end() ? nullptr : it->second.c_str();
  };
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Runs |check| in a child process as the user nobody; its result.
template <typename Check>
bool AsNobody(Check check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
      ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(StateDirectoriesTest, XdgBaseDirectoriesTakeOnlyAbsoluteValues) {
  const auto env = FakeEnvironment({{"HOME", "/home/u"},
                                    {"XDG_DATA_HOME", "/data"},
                                    {"XDG_CACHE_HOME", "relative/cache"},
                                    {"XDG_STATE_HOME", ""}});
  EXPECT_EQ("/data", UserDataHome(env));
  EXPECT_EQ("/home/u/.cache", UserCacheHome(env));
  EXPECT_EQ("/home/u/.local/state", UserStateHome(env));
}

TEST(StateDirectoriesTest, WritableDirectories) {
  TempDir temp;
  EXPECT_TRUE(CanWriteDirectory(temp.path()));
  EXPECT_TRUE(CanWriteDirectory(temp.File("not/yet/there")));
  ASSERT_TRUE(WriteStringToFile(temp.File("file"), "x"));
  EXPECT_FALSE(CanWriteDirectory(temp.File("file")));
  EXPECT_FALSE(CanWriteDirectory(temp.File("file/below")));
  EXPECT_FALSE(CanWriteDirectory(""));
  if (::geteuid() != 0) GTEST_SKIP() << "the check as another user needs root";
  // A directory of root's, as an installed program's is, to another user.
  ASSERT_EQ(0, ::chmod(temp.path().c_str(), 0755));
  EXPECT_TRUE(
      AsNobody([&] { return !CanWriteDirectory(temp.path()) && !CanWriteDirectory(temp.File("new")); }));
}

TEST(StateDirectoriesTest, WritableProgramDirectoryKeepsEveryLocation) {
  TempDir temp;
  const auto env = FakeEnvironment({{"HOME", temp.File("home")}});
  const StateDirectories dirs =
      ResolveStateDirectories(temp.path(), "pelicard", {temp.path(), "", temp.path()}, env);
  EXPECT_FALSE(dirs.per_user);
  EXPECT_TRUE(dirs.updates_allowed());
  EXPECT_EQ(temp.path(), dirs.data_dir);
  EXPECT_EQ("", dirs.cache_dir);  // the engine's default
  EXPECT_EQ(temp.path(), dirs.log_dir);
}

TEST(StateDirectoriesTest, ReadOnlyProgramDirectoryMovesStateToTheUser) {
  TempDir temp;
  ASSERT_TRUE(WriteStringToFile(temp.File("ro"), "a file cannot hold a directory"));
  const std::string program = temp.File("ro/lib/pelicard");
  const std::string elsewhere = temp.File("chosen");
  const auto env = FakeEnvironment({{"HOME", temp.File("home")}, {"XDG_DATA_HOME", temp.File("data")}});
  const StateDirectories dirs = ResolveStateDirectories(program, "pelicard", {program, "", program}, env);
  EXPECT_TRUE(dirs.per_user);
  EXPECT_FALSE(dirs.updates_allowed());
  EXPECT_FALSE(UpdatesAllowed(program));
  EXPECT_TRUE(UpdatesAllowed(temp.path()));
  EXPECT_EQ(temp.File("data/pelicard"), dirs.data_dir);
  EXPECT_EQ(temp.File("home/.cache/pelicard"), dirs.cache_dir);
  EXPECT_EQ(temp.File("home/.local/state/pelicard"), dirs.log_dir);
  // A directory the embedding program chose elsewhere, and may write, stays.
  const StateDirectories chosen =
      ResolveStateDirectories(program, "pelicard", {elsewhere, elsewhere, ""}, env);
  EXPECT_EQ(elsewhere, chosen.data_dir);
  EXPECT_EQ(elsewhere, chosen.cache_dir);
  EXPECT_EQ(temp.File("home/.local/state/pelicard"), chosen.log_dir);

  CreateStateDirectories(dirs);
  for (const std::string& dir : {dirs.data_dir, dirs.cache_dir, dirs.log_dir})
    EXPECT_EQ(0700u, ModeOf(dir)) << dir;
  const std::string line = DescribeStateDirectories(dirs);
  EXPECT_NE(std::string::npos, line.find(program + " is not writable"));
  EXPECT_NE(std::string::npos, line.find("the log to " + dirs.log_dir));
}

TEST(PrivateTempDirectoryTest, OneDirectoryPerUserThatOnlyItsOwnerCanUse) {
  TempDir temp;
  const std::string ours = temp.File("vesk-" + std::to_string(::geteuid()));
  EXPECT_EQ(ours, PrivateTempDirectory(temp.path() + "/"));
  EXPECT_EQ(0700u, ModeOf(ours));
  // A looser mode of our own directory is tightened.
  ASSERT_EQ(0, ::chmod(ours.c_str(), 0777));
  EXPECT_EQ(ours, PrivateTempDirectory(temp.path()));
  EXPECT_EQ(0700u, ModeOf(ours));
  if (::geteuid() != 0) GTEST_SKIP() << "a second user needs root";
  ASSERT_EQ(0, ::chmod(temp.path().c_str(), 01777));
  const std::string theirs = temp.File("vesk-" + std::to_string(kNobody));
  EXPECT_TRUE(AsNobody([&] { return PrivateTempDirectory(temp.path()) == theirs; }));
  struct stat info {};
  ASSERT_EQ(0, ::lstat(theirs.c_str(), &info));
  EXPECT_EQ(kNobody, info.st_uid);
  EXPECT_EQ(0700u, info.st_mode & 07777);
}

TEST(PrivateTempDirectoryTest, NameHeldBySomethingElseIsNotUsed) {
  TempDir temp;
  TempDir target;
  const std::string name = temp.File("vesk-" + std::to_string(::geteuid()));
  // A link planted at our name, pointing at a directory we could write (a
  // directory of another user's is refused the same way).
  ASSERT_EQ(0, ::symlink(target.path().c_str(), name.c_str()));
  LogCapture log;
  const std::string fallback = PrivateTempDirectory(temp.path());
  ASSERT_FALSE(fallback.empty());
  EXPECT_NE(name, fallback);
  EXPECT_EQ(temp.path(), DirName(fallback));
  EXPECT_EQ(0700u, ModeOf(fallback));
  EXPECT_NE(std::string::npos, log.Text().find(name + " is not a private directory of this user"));
  // The same fallback for the rest of the process's life.
  EXPECT_EQ(fallback, PrivateTempDirectory(temp.path()));
}

}  // namespace
}  // namespace vesk
