#include "vesk/core/upload_request_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "test_util.h"
#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"
#include "vesk/core/upload_request.h"

namespace vesk {
namespace {

size_t FileCount(const std::string& dir) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++count;
  return count;
}

TEST(UploadRequestWriterTest, WritesCompactSortedJsonLineFeedAndNulThatTheReaderLoads) {
  testing::TempDir dir;
  const std::vector<std::string> paths{"/home/u/b.txt", "/home/u/文件 a.pdf", "/home/u/\"q\"\\.txt"};
  std::string error;
  const auto written = WriteUploadRequestFile(dir.path(), paths, "", &error);
  ASSERT_TRUE(written) << error;

  const std::string name = std::filesystem::path(*written).filename();
  EXPECT_EQ(DirName(*written), dir.path());
  EXPECT_EQ(name.substr(0, 3), "Pel");
  EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
  struct stat info {};
  ASSERT_EQ(::stat(written->c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  std::string contents;
  ASSERT_TRUE(ReadFileToString(*written, &contents, 4096));
  const std::string expected_json =
      "{\"command\":\"\",\"data\":[\"/home/u/b.txt\",\"/home/u/\\u6587\\u4ef6 a.pdf\","
      "\"/home/u/\\\"q\\\"\\\\.txt\"]}";
  EXPECT_EQ(contents, expected_json + std::string("\n\0", 2));

  std::vector<std::string> loaded;
  EXPECT_TRUE(LoadUploadRequest(Base64Encode(*written), &loaded));
  EXPECT_EQ(loaded, paths);
}

TEST(UploadRequestWriterTest, RefusalsLeaveNoFileAndSayWhy) {
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteUploadRequestFile(dir.path(), {}, "", &error));
  EXPECT_EQ(error, "no file to upload");
  // A name that is not UTF-8 could only reach the page altered.
  EXPECT_FALSE(WriteUploadRequestFile(dir.path(), {"/ok", std::string("/bad\xff.txt")}, "", &error));
  EXPECT_EQ(error, "file name is not UTF-8: /bad\\377.txt");
  EXPECT_FALSE(WriteUploadRequestFile(dir.File("missing"), {"/a"}, "", &error));
  EXPECT_NE(error.find("cannot create a request file in"), std::string::npos) << error;
  EXPECT_EQ(FileCount(dir.path()), 0u);
}

TEST(UploadRequestWriterTest, FailedWriteDeletesTheHalfWrittenFile) {
  // The kernel's file-size limit (in a child, so the test runner keeps its
  // own) makes the real write stop part-way.
  testing::TempDir dir;
  const std::string big(70000, 'x');
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      4096, 4096
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool ok = WriteUploadRequestFile(dir.path(), {"/" + big}, "", &error).has_value();
    _exit(ok ? 1 : (error.rfind("cannot write ", 0) == 0 ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileCount(dir.path()), 0u);
}

}  // namespace
}  // namespace vesk
