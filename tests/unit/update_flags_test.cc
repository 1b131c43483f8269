// Update flags and the names they may hold: what is written, what is read
// back, and that no name leads out of the update directory (nothing outside
// is created, written, run or removed).
#include "vesk/core/update/update_flags.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "vesk/core/update/check_update_flag.h"
#include "vesk/core/update/update_location.h"

namespace vesk::update {
namespace {

using testing::LogCapture;
using testing::TempDir;

std::string Read(const std::string& path) {
  std::string text;
  ReadFileToString(path, &text, 1 << 20);
  return text;
}

class UpdateFlagsTest : public ::testing::Test {
 protected:
  std::string Update() const { return UpdateDirectory(dir_.path()); }
  std::string InUpdate(const std::string& name) const { return JoinPath(Update(), name); }
  void Touch(const std::string& name, const std::string& text = "x") {
    ASSERT_TRUE(CreateDirectoryRecursive(DirName(InUpdate(name))));
    ASSERT_TRUE(WriteStringToFile(InUpdate(name), text));
  }
  void Flag(const std::string& content) {
    ASSERT_TRUE(CreateDirectoryRecursive(Update()));
    ASSERT_TRUE(WriteStringToFile(InUpdate(kQbunFlagName), content));
  }

  TempDir dir_;
  LogCapture log_;
};

TEST_F(UpdateFlagsTest, QbunNamesGetTheSuffixUnlessTheyEndWithItInAnyCase) {
  EXPECT_EQ(JoinQbunNames({"main", "extra.QBUN"}), "main.qbun|extra.QBUN");
  EXPECT_EQ(JoinQbunNames({"a.qbun", "b.QbUn", "c.qbu", ".qbun", ""}),
            "a.qbun|b.QbUn|c.qbu.qbun|.qbun|.qbun");
  ASSERT_TRUE(SetQbunUpdateFlag(dir_.path(), {"main", "extra.QBUN"}));
  EXPECT_EQ(Read(InUpdate(kQbunFlagName)), "main.qbun|extra.QBUN");
}

TEST_F(UpdateFlagsTest, FlagIsWrittenExactlyAndReplacedAndLogged) {
  ASSERT_TRUE(SetUpdateFlag(dir_.path(), " setup.exe\t"));
  ASSERT_TRUE(SetUpdateFlag(dir_.path(), "b"));
  EXPECT_EQ(Read(InUpdate(kUpdateFlagName)), "b");
  EXPECT_NE(log_.Text().find("Update: Create Update File Success, Update File(" + InUpdate(kUpdateFlagName) +
                             "), Update Package Path(b)"),
            std::string::npos);
}

TEST_F(UpdateFlagsTest, FailedWriteIsLoggedAndNeverFollowsALink) {
  // A link in the flag's place: the target outside keeps its contents.
  const std::string outside = dir_.File("outside.txt");
  ASSERT_TRUE(WriteStringToFile(outside, "keep"));
  ASSERT_TRUE(CreateDirectoryRecursive(Update()));
  ASSERT_EQ(::symlink(outside.c_str(), InUpdate(kUpdateFlagName).c_str()), 0);
  EXPECT_FALSE(SetUpdateFlag(dir_.path(), "evil"));
  EXPECT_EQ(Read(outside), "keep");
  EXPECT_FALSE(PathExists(InUpdate(kUpdateFlagName))) << "the failed flag is removed";
  EXPECT_NE(log_.Text().find("Update: Write Update Flag File Failed, Update File(" +
                             InUpdate(kUpdateFlagName) + "), Update Package Name(evil)"),
            std::string::npos);
  // No program directory, and an update "directory" that is a file.
  EXPECT_FALSE(SetUpdateFlag("", "a"));
  EXPECT_NE(log_.Text().find("Update: GetDirPath Failed"), std::string::npos);
  TempDir other;
  ASSERT_TRUE(WriteStringToFile(other.File("update"), ""));
  EXPECT_FALSE(SetUpdateFlag(other.path(), "a"));
}

TEST_F(UpdateFlagsTest, EntriesAreTrimmedAndReadInOrder) {
  Touch("a.qbun");
  Touch("sub/b.qbun");
  Flag(" a.qbun |\n\tsub/b.qbun\r\n");
  std::vector<std::string> paths;
  EXPECT_TRUE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths));
  EXPECT_EQ(paths, (std::vector<std::string>{InUpdate("a.qbun"), InUpdate("sub/b.qbun")}));
  EXPECT_NE(log_.Text().find("Update: ReadValidPathFromFlagFile(" + InUpdate(kQbunFlagName) + ") report " +
                             InUpdate("sub/b.qbun")),
            std::string::npos);
}

TEST_F(UpdateFlagsTest, AMissingEntryStopsTheListAndIsLoggedWithTheRawContent) {
  Touch("a.qbun");
  Flag("a.qbun|gone.qbun|a.qbun");
  std::vector<std::string> paths;
  EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths));
  EXPECT_EQ(paths, std::vector<std::string>{InUpdate("a.qbun")});
  EXPECT_NE(log_.Text().find("Update: ReadValidPathFromFlagFile(" + InUpdate(kQbunFlagName) +
                             ") failed : update_package_path(" + InUpdate("gone.qbun") +
                             ") doesn't exist, raw content(a.qbun|gone.qbun|a.qbun"),
            std::string::npos);
  // Control characters reach the log escaped, never as they are.
  Flag("forged\n[1:1:0101/000000.000:0:ERROR:x(1)] line");
  EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths));
  EXPECT_NE(log_.Text().find("forged\\x0A[1:1"), std::string::npos);
  EXPECT_EQ(log_.Text().find("forged\n"), std::string::npos);
  // A directory and an empty content are no files either.
  Touch("dir/x");
  Flag("dir");
  EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths));
  EXPECT_TRUE(paths.empty());
  Flag("");
  EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths));
  EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate("absent"), &paths));
  EXPECT_NE(log_.Text().find("Update: Read Content From Flag File Failed : " + InUpdate("absent")),
            std::string::npos);
}

TEST_F(UpdateFlagsTest, OnePathOnlyWhenExactlyOneAndTheCountsAreReported) {
  for (const char* name : {"a.exe", "b.exe", "c.exe", "d.exe"}) Touch(name);
  const std::string flag = InUpdate(kUpdateFlagName);
  std::string path;
  ASSERT_TRUE(WriteStringToFile(flag, "  a.exe\n"));
  EXPECT_TRUE(ReadOnePathFromFlagFile(dir_.path(), flag, &path));
  EXPECT_EQ(path, InUpdate("a.exe"));

  ASSERT_TRUE(WriteStringToFile(flag, "a.exe|b.exe"));
  EXPECT_FALSE(ReadOnePathFromFlagFile(dir_.path(), flag, &path));
  EXPECT_NE(log_.Text().find("should report only one path, but actually it report 2 paths, they are" +
                             InUpdate("a.exe") + " " + InUpdate("b.exe") + " \n"),
            std::string::npos);
  ASSERT_TRUE(WriteStringToFile(flag, "a.exe|b.exe|c.exe|d.exe"));
  EXPECT_FALSE(ReadOnePathFromFlagFile(dir_.path(), flag, &path));
  EXPECT_NE(log_.Text().find("actually it report 4 paths, they are" + InUpdate("a.exe") + " " +
                             InUpdate("b.exe") + " " + InUpdate("c.exe") + " etc.\n"),
            std::string::npos);

  ASSERT_TRUE(WriteStringToFile(flag, "missing.exe"));
  EXPECT_FALSE(ReadOnePathFromFlagFile(dir_.path(), flag, &path));
  const std::string log = log_.Text();
  const size_t missing = log.find("update_package_path(" + InUpdate("missing.exe") + ") doesn't exist");
  const size_t empty = log.find("Update: ReadValidPathFromFlagFile(" + flag + ") report empty");
  ASSERT_NE(missing, std::string::npos);
  ASSERT_NE(empty, std::string::npos);
  EXPECT_LT(missing, empty);
}

// Names a page or a flag file might hold that must never lead out of the
// update directory: each is refused by the resolver, and as a flag entry
// it counts as a missing file, so nothing outside is touched.
std::vector<std::string> HostileNames() {
  std::vector<std::string> names = {
      "..",
      "../",
      "../x",
      "../../x",
      "../../../../../../etc/passwd",
      "a/../../x",
      "a/..",
      "./..",
      "sub/../..",
      "sub/./../../x",
      "..//x",
      "x/../../update/x",
      ".../../x",
      "..\\/x/../..",
      "/etc/passwd",
      "/tmp/x",
      "//x",
      "/",
      "/..",
      "/proc/self/exe",
      "",
      ".",
      "./",
      "./.",
      "//",
      "a/b/../../..",
      "link_out",
      "link_out/x",
      "link_out/../x",
      "link_dir_out/file",
      "link_dir_out",
      "dangling",
      "dangling/x",
      "sub/link_up",
      "sub/link_up/x",
      "link_loop",
      "link_loop/x",
      "link_abs_out",
      "link_root/etc/passwd",
      std::string("a\0b", 3),
      std::string("\0", 1),
      std::string("x\0/../../y", 10),
      "\xff\xfe",
      "a\xc0\xaf..",
      "\xed\xa0\x80",
      "ok/\x80",
      std::string(256, 'a'),
      "sub/" + std::string(300, 'b'),
      std::string(5000, 'c'),
      "a/" + std::string(4090, 'd'),
      "../" + std::string(10, 'e'),
      "..//..//",
  };
  // Every component within the limit, the whole path beyond it.
  std::string long_path;
  for (int i = 0; i < 20; ++i) long_path += std::string(250, 'f') + "/";
  names.push_back(long_path + "x");
  return names;
}

TEST_F(UpdateFlagsTest, HostileNamesAreRefusedAndTouchNothingOutside) {
  const std::string update = Update();
  ASSERT_TRUE(CreateDirectoryRecursive(JoinPath(update, "sub")));
  const std::string outside = dir_.File("outside");
  ASSERT_TRUE(CreateDirectoryRecursive(outside));
  ASSERT_TRUE(WriteStringToFile(JoinPath(outside, "file"), "keep"));
  // A program outside that must never run.
  const std::string program = "#!/bin/sh\ntouch '" + dir_.File("ran") + "'\n";
  ASSERT_TRUE(WriteStringToFile(dir_.File("x"), program));
  ASSERT_EQ(::chmod(dir_.File("x").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(JoinPath(outside, "file").c_str(), JoinPath(update, "link_out").c_str()), 0);
  ASSERT_EQ(::symlink("../outside", JoinPath(update, "link_dir_out").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere/at/all", JoinPath(update, "dangling").c_str()), 0);
  ASSERT_EQ(::symlink("../..", JoinPath(update, "sub/link_up").c_str()), 0);
  ASSERT_EQ(::symlink("link_loop", JoinPath(update, "link_loop").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.File("x").c_str(), JoinPath(update, "link_abs_out").c_str()), 0);
  ASSERT_EQ(::symlink("/", JoinPath(update, "link_root").c_str()), 0);

  std::vector<std::string> names = HostileNames();
  names.push_back(dir_.File("x"));
  ASSERT_GE(names.size(), 50u);
  for (const std::string& name : names) {
    std::string why;
    EXPECT_FALSE(ResolveUpdateEntry(update, name, &why)) << "accepted: " << LogSafe(name);
    EXPECT_FALSE(why.empty());
    // As a flag entry: the "doesn't exist" line, no path.
    Flag(name);
    std::vector<std::string> paths;
    EXPECT_FALSE(ReadValidPathFromFlagFile(dir_.path(), InUpdate(kQbunFlagName), &paths)) << LogSafe(name);
    EXPECT_TRUE(paths.empty());
    // As the installer to start (and a package to install) at a start.
    ASSERT_TRUE(WriteStringToFile(InUpdate(kUpdateFlagName), name));
    bool started = true;
    EXPECT_TRUE(CheckUpdateFlag(dir_.path(), &started));
    EXPECT_FALSE(started) << LogSafe(name);
  }
  EXPECT_EQ(Read(JoinPath(outside, "file")), "keep");
  EXPECT_EQ(Read(dir_.File("x")), program);
  EXPECT_FALSE(PathExists(dir_.File("ran")));
  EXPECT_FALSE(PathExists(dir_.File("package")));
}

TEST_F(UpdateFlagsTest, NamesInsideTheDirectoryStayUsable) {
  const std::string update = Update();
  ASSERT_TRUE(CreateDirectoryRecursive(JoinPath(update, "sub/deeper")));
  ASSERT_EQ(::symlink("sub/deeper", JoinPath(update, "link_in").c_str()), 0);
  const std::pair<const char*, const char*> cases[] = {{"setup.exe", "setup.exe"},
                                                       {"sub/a.qbun", "sub/a.qbun"},
                                                       {"./sub//a.qbun", "sub/a.qbun"},
                                                       {"sub/deeper/x", "sub/deeper/x"},
                                                       {"link_in/x", "link_in/x"},
                                                       {"..a", "..a"},
                                                       {"a..", "a.."},
                                                       {"名前.qbun", "名前.qbun"},
                                                       {"with space", "with space"},
                                                       {"sub/.", "sub"}};
  for (const auto& [name, relative] : cases) {
    const auto path = ResolveUpdateEntry(update, name);
    ASSERT_TRUE(path) << name;
    EXPECT_EQ(*path, JoinPath(update, relative));
  }
}

}  // namespace
}  // namespace vesk::update
