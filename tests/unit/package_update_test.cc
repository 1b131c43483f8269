// The restart-time update below the program's start (the start itself is
// tested end to end in tests/e2e/test_update.py): the recovery of every
// interrupted state, a kill at every file operation of the update and of
// the recovery, and the installer's start with a real program standing in
// for the installer.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "package_test_util.h"
#include "vesk/core/update/check_update_flag.h"
#include "vesk/core/update/package_swap.h"
#include "vesk/core/update/update_flags.h"
#include "vesk/core/update/update_location.h"

namespace vesk::update {
namespace {

using testing::LogCapture;
using testing::TempDir;
using FileSet = std::map<std::string, std::string>;

std::string SignedPackageText(const std::string& marker) {
  const auto bytes =
      testing::SignedPackage(testing::Archive({{"version.dat", testing::Bytes(marker), true}}));
  return std::string(bytes.begin(), bytes.end());
}

// The regular files directly inside |dir| with their contents; other
// entries appear with the content "<other>".
FileSet Contents(const std::string& dir) {
  FileSet files;
  if (DIR* handle = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(handle)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string text;
      files[name] = ReadFileToString(JoinPath(dir, name), &text, 1 << 24) ? text : "<other>";
    }
    ::closedir(handle);
  }
  return files;
}

void WriteSet(const std::string& dir, const FileSet& files) {
  ASSERT_TRUE(CreateDirectoryRecursive(dir));
  for (const auto& [name, text] : files) ASSERT_TRUE(WriteStringToFile(JoinPath(dir, name), text));
}

class PackageUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::strlen(testing::SigningKeyPath()) == 0) GTEST_SKIP() << "no private key in this build";
    old_b_ = SignedPackageText("b 1.0");
    new_b_ = SignedPackageText("b 2.0");
    new_c_ = SignedPackageText("c 1.0");
  }
  std::string Dir(const std::string& name) const { return JoinPath(dir_.path(), name); }
  std::string Update() const { return UpdateDirectory(dir_.path()); }
  FileSet OldSet() const { return {{"a.qbun", "old a"}, {"b.qbun", old_b_}}; }
  FileSet NewSet() const { return {{"a.qbun", "old a"}, {"b.qbun", new_b_}, {"c.qbun", new_c_}}; }
  // package holds a.qbun and b.qbun; b.qbun and c.qbun are downloaded and
  // named in the package flag.
  void PrepareUpdate() {
    WriteSet(Dir("package"), OldSet());
    WriteSet(Update(), {{"b.qbun", new_b_}, {"c.qbun", new_c_}, {kQbunFlagName, "b.qbun|c.qbun"}});
  }
  bool Start() {
    bool started = false;
    const bool result = CheckUpdateFlag(dir_.path(), &started);
    EXPECT_FALSE(started);
    return result;
  }

  TempDir dir_;
  LogCapture log_;
  std::string old_b_, new_b_, new_c_;
};

TEST_F(PackageUpdateTest, AMissingPackageDirectoryIsCreatedAndFilled) {
  WriteSet(Update(), {{"c.qbun", new_c_}, {kQbunFlagName, "c.qbun"}});
  EXPECT_TRUE(Start());
  EXPECT_EQ(Contents(Dir("package")), (FileSet{{"c.qbun", new_c_}}));
  EXPECT_NE(
      log_.Text().find("When DoUpdateWorkForQbnu, package directory(" + Dir("package") + ") should exist"),
      std::string::npos);
}

TEST_F(PackageUpdateTest, APackageLinkIsReadThroughAndReplacedByTheNewSet) {
  WriteSet(Dir("elsewhere"), OldSet());
  ASSERT_EQ(::symlink("elsewhere", Dir("package").c_str()), 0);
  WriteSet(Update(), {{"b.qbun", new_b_}, {"c.qbun", new_c_}, {kQbunFlagName, "b.qbun|c.qbun"}});
  EXPECT_TRUE(Start());
  struct stat info {};
  ASSERT_EQ(::lstat(Dir("package").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(Contents(Dir("package")), NewSet());
  EXPECT_EQ(Contents(Dir("elsewhere")), OldSet()) << "the link's target is left alone";
}

// Every state an interrupted update can leave, and what the next start
// makes of it.
TEST_F(PackageUpdateTest, RecoveryKeepsOneWholeSet) {
  const FileSet old_set = OldSet(), new_set = NewSet();
  FileSet new_marked = new_set;
  new_marked[kStagingCompleteMarker] = "";
  struct Case {
    const char* what;
    std::map<std::string, FileSet> dirs;  // package, package_new, package_old
    const FileSet* expected;
  };
  const Case cases[] = {
      {"staging left without package is promoted", {{"package_new", new_set}}, &new_set},
      {"unfinished staging next to package is discarded",
       {{"package", old_set}, {"package_new", new_set}},
       &old_set},
      {"complete staging next to package is swapped in",
       {{"package", old_set}, {"package_new", new_marked}},
       &new_set},
      {"complete staging between the renames",
       {{"package_new", new_marked}, {"package_old", old_set}},
       &new_set},
      {"unfinished staging with a backup restores it",
       {{"package_new", new_set}, {"package_old", old_set}},
       &old_set},
      {"backup left after the swap is dropped",
       {{"package", new_marked}, {"package_old", old_set}},
       &new_set},
      {"only the backup", {{"package_old", old_set}}, &old_set},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"package", "package_new", "package_old"}) {
      (void)std::system(("rm -rf '" + Dir(name) + "'").c_str());
      if (c.dirs.count(name)) WriteSet(Dir(name), c.dirs.at(name));
    }
    EXPECT_TRUE(Start());
    EXPECT_EQ(Contents(Dir("package")), *c.expected);
    EXPECT_FALSE(PathExists(Dir("package_new")));
    EXPECT_FALSE(PathExists(Dir("package_old")));
  }
}

int g_steps = 0;
int g_kill_at = 0;
void CountOrKill(const char*) {
  if (++g_steps == g_kill_at) ::kill(::getpid(), SIGKILL);
}

// Runs a start in a child process that dies by SIGKILL before its
// |kill_at|-th file operation of the update (0: never). Returns the child's
// step count when it finished, or -1 when it was killed.
int StartInChild(const std::string& program_dir, int kill_at) {
  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    g_steps = 0;
    g_kill_at = kill_at;
    SetUpdateStepObserver(&CountOrKill);
    bool started = false;
    CheckUpdateFlag(program_dir, &started);
    ssize_t ignored = ::write(pipe_fds[1], &g_steps, sizeof(g_steps));
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  int steps = -1;
  if (::read(pipe_fds[0], &steps, sizeof(steps)) != sizeof(steps)) steps = -1;
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(steps < 0, WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  return steps;
}

// A kill before every file operation of the update, and then, for each of
// those, a kill before every file operation of the recovery at the next
// start: after the start that is not interrupted, package holds exactly the
// old set or exactly the new one.
TEST_F(PackageUpdateTest, AKillAtAnyStepLeavesTheOldOrTheNewSet) {
  PrepareUpdate();
  const int steps = StartInChild(dir_.path(), 0);
  ASSERT_GT(steps, 10);
  ASSERT_EQ(Contents(Dir("package")), NewSet());
  for (const char* gone : {"package_new", "package_old", "update"})
    EXPECT_FALSE(PathExists(Dir(gone))) << gone;
  const std::string log = log_.Text();
  EXPECT_NE(
      log.find("Update: CheckUpdateFlag: update_flag_file(" + JoinPath(Update(), kUpdateFlagName) +
               ") not exist;complete_flag_file(" + JoinPath(Update(), kCompleteFlagName) + ") not exist"),
      std::string::npos);
  EXPECT_NE(log.find("Update: CheckUpdateFlagForQbun: package directory(" + Dir("package") +
                     ") exist;package_new directory(" + Dir("package_new") + ") not exist"),
            std::string::npos);
  EXPECT_NE(log.find("Update: CheckUpdateFlagForQbun: Qbun Flag File(" + JoinPath(Update(), kQbunFlagName) +
                     ") exist"),
            std::string::npos);
  int kill_points = 0;
  for (int kill_at = 1; kill_at <= steps; ++kill_at) {
    SCOPED_TRACE("killed before update step " + std::to_string(kill_at));
    for (int recovery_kill_at = 0;; ++recovery_kill_at) {
      (void)std::system(("rm -rf '" + dir_.path() + "'/*").c_str());
      PrepareUpdate();
      ASSERT_EQ(StartInChild(dir_.path(), kill_at), -1);
      ++kill_points;
      const bool recovery_killed = recovery_kill_at > 0 && StartInChild(dir_.path(), recovery_kill_at) == -1;
      if (recovery_killed) ++kill_points;
      EXPECT_TRUE(Start());
      const FileSet package = Contents(Dir("package"));
      EXPECT_TRUE(package == OldSet() || package == NewSet()) << "recovery killed at " << recovery_kill_at;
      EXPECT_FALSE(PathExists(Dir("package_new")));
      EXPECT_FALSE(PathExists(Dir("package_old")));
      if (recovery_kill_at > 0 && !recovery_killed) break;  // the recovery has no further step
    }
  }
  std::printf("update steps: %d, kill points tried: %d\n", steps, kill_points);
  RecordProperty("kill_points", kill_points);
}

// The installer flags, with a shell script for the installer: it records
// its arguments and environment.
class InstallerFlagTest : public ::testing::Test {
 protected:
  std::string Update() const { return UpdateDirectory(dir_.path()); }
  std::string InUpdate(const std::string& name) const { return JoinPath(Update(), name); }
  std::string Record() const { return dir_.File("record.txt"); }
  void WriteInstaller(const std::string& name) {
    ASSERT_TRUE(CreateDirectoryRecursive(DirName(InUpdate(name))));
    ASSERT_TRUE(WriteStringToFile(InUpdate(name), "#!/bin/sh\n{ printf '%s\\n' \"$@\"; env; } > '" +
                                                      Record() + ".tmp'\nmv '" + Record() + ".tmp' '" +
                                                      Record() + "'\n"));
    ASSERT_EQ(::chmod(InUpdate(name).c_str(), 0600), 0) << "not executable: the start makes it so";
  }
  bool Start(bool* started) { return CheckUpdateFlag(dir_.path(), started); }
  std::string WaitForRecord() {
    std::string text;
    for (int i = 0; i < 600 && !ReadFileToString(Record(), &text, 1 << 20); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return text;
  }

  TempDir dir_;
  LogCapture log_;
};

TEST_F(InstallerFlagTest, ThePendingInstallerStartsDetachedWithTheTwoArgumentsAndOurVariablesGone) {
  WriteInstaller("sub dir/setup.run");
  ASSERT_TRUE(WriteStringToFile(InUpdate(kUpdateFlagName), " \tsub dir/setup.run\n"));
  ASSERT_TRUE(WriteStringToFile(InUpdate(kQbunFlagName), "x.qbun"));
  ::setenv("VESK_SOMETHING", "1", 1);
  ::setenv("GIO_USE_PROXY_RESOLVER", "vesk", 1);
  bool started = false;
  EXPECT_TRUE(Start(&started));
  ::unsetenv("VESK_SOMETHING");
  ::unsetenv("GIO_USE_PROXY_RESOLVER");
  EXPECT_TRUE(started);
  const std::string record = WaitForRecord();
  EXPECT_EQ(record.rfind("/S\n/D=" + dir_.path() + "\n", 0), 0u) << record;
  EXPECT_EQ(record.find("VESK_SOMETHING"), std::string::npos);
  EXPECT_EQ(record.find("GIO_USE_PROXY_RESOLVER"), std::string::npos);
  EXPECT_NE(record.find("\nPATH="), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(InUpdate("sub dir/setup.run").c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
  EXPECT_FALSE(PathExists(InUpdate(kUpdateFlagName)));
  EXPECT_EQ(std::string(Contents(Update())[kCompleteFlagName]), " \tsub dir/setup.run\n");
  EXPECT_FALSE(PathExists(InUpdate(kQbunFlagName))) << "a pending package update is abandoned";

  // The next start removes the installer, its flag, its empty directory
  // and the empty update directory.
  EXPECT_TRUE(Start(&started));
  EXPECT_FALSE(started);
  EXPECT_FALSE(PathExists(Update()));
  EXPECT_NE(
      log_.Text().find("Update: Update Package Directory Is Empty, Then Delete It :" + InUpdate("sub dir")),
      std::string::npos);
}

TEST_F(InstallerFlagTest, AFailedStartIsLoggedAndTheInstallerStays) {
  ASSERT_TRUE(CreateDirectoryRecursive(Update()));
  // No program of any format: it is not handed to a shell either.
  ASSERT_TRUE(WriteStringToFile(InUpdate("setup.bin"), "touch '" + Record() + "'\n"));
  ASSERT_TRUE(WriteStringToFile(InUpdate(kUpdateFlagName), "setup.bin"));
  bool started = true;
  EXPECT_TRUE(Start(&started));
  EXPECT_FALSE(started);
  EXPECT_NE(log_.Text().find("Update: Launch Update Package Failed : " + InUpdate("setup.bin")),
            std::string::npos);
  EXPECT_EQ(Contents(Update()), (FileSet{{"setup.bin", "touch '" + Record() + "'\n"}}));
  EXPECT_FALSE(PathExists(Record()));
}

TEST_F(InstallerFlagTest, BothInstallerFlagsAreSimplyRemoved) {
  WriteInstaller("a.run");
  ASSERT_TRUE(WriteStringToFile(InUpdate(kUpdateFlagName), "a.run"));
  ASSERT_TRUE(WriteStringToFile(InUpdate(kCompleteFlagName), "a.run"));
  bool started = true;
  EXPECT_TRUE(Start(&started));
  EXPECT_FALSE(started);
  EXPECT_EQ(Contents(Update()), (FileSet{{"a.run", Contents(Update())["a.run"]}}));
  EXPECT_FALSE(PathExists(Record()));
  EXPECT_FALSE(CheckUpdateFlag("", &started));
}

}  // namespace
}  // namespace vesk::update
