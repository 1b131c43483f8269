#include "vesk/core/logging.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <thread>

#include "test_util.h"
#include "vesk/core/browser/console_message.h"
#include "vesk/core/log_text.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace testing {
extern bool g_dchecks_on_at_start;  // unit_test_main.cc
}  // namespace testing
namespace {

std::string ReadAll(const std::string& path) {
  std::string contents;
  EXPECT_TRUE(ReadFileToString(path, &contents, 64 << 20));
  return contents;
}

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 23);
  return data;
}

TEST(LogFileNameTest, ExecutableNameWithoutExtension) {
  EXPECT_EQ(logging::LogFilePathFor("/opt/app", "/opt/app/pelicard"), "/opt/app/pelicard.log");
  EXPECT_EQ(logging::LogFilePathFor("/opt/app/", "/x/tool.bin"), "/opt/app/tool.log");
  EXPECT_EQ(logging::LogFilePathFor("/d", "/x/archive.tar.gz"), "/d/archive.tar.log");
  EXPECT_EQ(logging::LogFilePathFor("/d", "/x/"), "/d/debug.log.log");
  EXPECT_EQ(logging::LogFilePathFor("", "pelicard"), "pelicard.log");
}

TEST(LogTrimTest, KeepsTheLastHalfMegabyteAndLeavesSmallFilesAlone) {
  testing::TempDir dir;
  const std::string big = dir.File("big.log");
  const std::string data = Pattern(600000);
  ASSERT_TRUE(WriteStringToFile(big, data));
  logging::TrimLogFile(big);
  EXPECT_EQ(ReadAll(big), data.substr(600000 - 524288));

  const std::string exact = dir.File("exact.log");
  const std::string exact_data = Pattern(524288);
  ASSERT_TRUE(WriteStringToFile(exact, exact_data));
  logging::TrimLogFile(exact);
  EXPECT_EQ(ReadAll(exact), exact_data);

  logging::TrimLogFile(dir.File("missing.log"));  // silent
  EXPECT_FALSE(PathExists(dir.File("missing.log")));
}

TEST(LogTrimTest, OnlyTheLockHolderTrimsAndItKeepsWhatOthersWroteSince) {
  testing::TempDir dir;
  const std::string path = dir.File("shared.log");
  const std::string data = Pattern(600000);
  ASSERT_TRUE(WriteStringToFile(path, data));
  // A start that has not taken the lock yet (or never will) opens untrimmed.
  ASSERT_TRUE(logging::InitLogging(path, /*trim=*/false));
  VESK_LOG(INFO) << "before the lock";
  EXPECT_EQ(ReadAll(path).substr(0, data.size()), data);
  logging::TrimLogFileAtStart();
  VESK_LOG(INFO) << "after the lock";
  logging::ShutdownLogging();
  const std::string log = ReadAll(path);
  EXPECT_EQ(log.substr(0, 524288), data.substr(600000 - 524288));
  EXPECT_NE(log.find("before the lock"), std::string::npos);
  EXPECT_NE(log.find("after the lock"), std::string::npos);
}

TEST(LogLineTest, PrefixFormatAndAppending) {
  testing::TempDir dir;
  const std::string path = dir.File("app.log");
  ASSERT_TRUE(WriteStringToFile(path, "old line\n"));
  ASSERT_TRUE(logging::InitLogging(path));
  VESK_LOG(WARNING) << "hello " << 42;
  errno = ENOENT;
  VESK_PLOG(ERROR) << "open failed";
  logging::ShutdownLogging();
  std::istringstream lines(ReadAll(path));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "old line");
  const std::regex prefix(R"(\[\d+:\d+:\d{4}/\d{6}\.\d{3}:\d+:(\w+):logging_test\.cc\(\d+\)\] (.*))");
  std::smatch match;
  std::getline(lines, line);
  ASSERT_TRUE(std::regex_match(line, match, prefix)) << line;
  EXPECT_EQ(match[1], "WARNING");
  EXPECT_EQ(match[2], "hello 42");
  std::getline(lines, line);
  ASSERT_TRUE(std::regex_match(line, match, prefix)) << line;
  EXPECT_EQ(match[1], "ERROR");
  EXPECT_EQ(match[2], "open failed: No such file or directory (2)");
}

TEST(LogLineTest, ProcessesWritingAtOnceNeverInterleave) {
  testing::TempDir dir;
  const std::string path = dir.File("shared.log");
  constexpr int kProcesses = 4;
  constexpr int kLines = 80;             // together below the running cap
  const std::string payload(3000, 'x');  // longer than a pipe buffer's atomic size
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Joining a log that is already in use, as a web process does: no
      // trimming under the feet of the other writers.
      logging::InitLogging(path, /*trim=*/false);
      for (int i = 0; i < kLines; ++i) VESK_LOG(INFO) << "p" << p << " " << payload << " end";
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream lines(ReadAll(path));
  std::string line;
  int count = 0;
  const std::regex whole(R"(\[[^\]]+\] p\d x{3000} end)");
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_TRUE(std::regex_match(line, whole)) << line.substr(0, 80);
  }
  EXPECT_EQ(count, kProcesses * kLines);
}

TEST(VerbosityTest, VAndVmodule) {
  logging::SetVerbosity(1, "");
  EXPECT_TRUE(logging::VlogIsOn(1, "src/a/foo.cc"));
  EXPECT_FALSE(logging::VlogIsOn(2, "src/a/foo.cc"));
  logging::SetVerbosity(0, "foo=3,ba*=2,src/x/*=4,bad");
  EXPECT_TRUE(logging::VlogIsOn(3, "src/a/foo.cc"));
  EXPECT_FALSE(logging::VlogIsOn(4, "src/a/foo.cc"));
  EXPECT_TRUE(logging::VlogIsOn(2, "/b/bar.cc"));
  EXPECT_TRUE(logging::VlogIsOn(4, "src/x/deep.cc"));
  EXPECT_FALSE(logging::VlogIsOn(1, "other.cc"));
  logging::SetVerbosity(0, "");
}

// Debug checks start on only in a Debug build: a build without a build type
// starts like a release.
TEST(LoggingTest, DebugChecksStartOnOnlyInADebugBuild) {
#if defined(VESK_TEST_DEBUG_BUILD)
  EXPECT_TRUE(testing::g_dchecks_on_at_start);
#else
  EXPECT_FALSE(testing::g_dchecks_on_at_start);
#endif
}

TEST(DcheckTest, OnlyLogsAndOnlyWhenEnabled) {
  testing::TempDir dir;
  const std::string path = dir.File("check.log");
  ASSERT_TRUE(logging::InitLogging(path));
  const int value = 1;
  logging::SetDchecksEnabled(false);
  VESK_DCHECK(value == 2);
  logging::SetDchecksEnabled(true);
  VESK_DCHECK(value == 2) << "extra";
  VESK_DCHECK(value == 1);
  logging::ShutdownLogging();
  const std::string log = ReadAll(path);
  EXPECT_NE(log.find("Check failed: value == 2. extra"), std::string::npos) << log;
  EXPECT_EQ(log.find("Check failed: value == 1"), std::string::npos);
  EXPECT_EQ(log.find("Check failed"), log.rfind("Check failed"));  // exactly one
}

TEST(DcheckTest, FixedTextsAndTheMainThreadCheck) {
  testing::TempDir dir;
  const std::string path = dir.File("check.log");
  ASSERT_TRUE(logging::InitLogging(path));
  logging::SetDchecksEnabled(true);
  VESK_DCHECK_TEXT(1 + 1 == 3, "!CefCurrentlyOn(thread_id)");
  VESK_DCHECK_TEXT(true, "never reported");
  EXPECT_TRUE(CurrentlyOnMainThread());
  VESK_REQUIRE_MAIN_THREAD();  // silent here
  bool on_main_elsewhere = true;
  std::thread([&] {
    on_main_elsewhere = CurrentlyOnMainThread();
    VESK_REQUIRE_MAIN_THREAD();
  }).join();
  EXPECT_FALSE(on_main_elsewhere);
  // A forked child's only thread is its main thread.
  const pid_t child = fork();
  if (child == 0) _exit(CurrentlyOnMainThread() ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  logging::ShutdownLogging();
  const std::string log = ReadAll(path);
  EXPECT_NE(log.find("Check failed: !CefCurrentlyOn(thread_id). "), std::string::npos) << log;
  EXPECT_EQ(log.find("never reported"), std::string::npos);
  EXPECT_NE(log.find("Check failed: CurrentlyOnMainThread(). "), std::string::npos) << log;
  EXPECT_EQ(log.find("CurrentlyOnMainThread"), log.rfind("CurrentlyOnMainThread"));  // the other thread only
}

TEST(LogEscapeTest, OutsideTextStaysOnOneVisibleLine) {
  using logging::EscapeLogText;
  EXPECT_EQ(EscapeLogText("plain text, tabs\tand \\ backslashes"), "plain text, tabs\tand \\ backslashes");
  EXPECT_EQ(EscapeLogText("a\n[1:2:0101/000000.000:3:ERROR:x.cc(1)] forged"),
            "a\\n[1:2:0101/000000.000:3:ERROR:x.cc(1)] forged");
  EXPECT_EQ(EscapeLogText(std::string("nul\0after\r\x1b[2J\x7f", 15)), "nul\\x00after\\r\\x1B[2J\\x7F");
  EXPECT_EQ(EscapeLogText("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  // Invalid: a lone continuation byte, an overlong '/', a surrogate, a cut
  // sequence, and bytes that never start one.
  EXPECT_EQ(EscapeLogText("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82|\xFF"),
            "\\x80|\\xC0\\xAF|\\xED\\xA0\\x80|\\xE2\\x82|\\xFF");
  // C1 controls and the Unicode line separators.
  EXPECT_EQ(EscapeLogText("\xC2\x85|\xE2\x80\xA8|\xE2\x80\xA9"), "\\u0085|\\u2028|\\u2029");
  // Console text is escaped whole, a line feed at its end included.
  EXPECT_EQ(FormatConsoleMessage("vesk://main/a\nb.js?x", 3, "hi\r\n"), "[CONSOLE:a\\nb.js(3)] hi\\r\\n");
}

TEST(LogEscapeTest, LinesOfTheLogCarryEscapedText) {
  testing::TempDir dir;
  const std::string path = dir.File("escape.log");
  ASSERT_TRUE(logging::InitLogging(path));
  VESK_LOG(INFO) << "page said: one\n[9:9:0101/000000.000:1:ERROR:forged.cc(1)] two";
  VESK_LOG(WARNING) << "fixed message\n";
  logging::ShutdownLogging();
  const std::string log = ReadAll(path);
  EXPECT_NE(log.find("page said: one\\n[9:9:0101/000000.000:1:ERROR:forged.cc(1)] two\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("fixed message\n\n"), std::string::npos) << "a trailing line feed is kept";
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
}

TEST(LogCapTest, ARunningLogIsTrimmedAtWholeLinesUnderTheCap) {
  testing::TempDir dir;
  const std::string path = dir.File("flood.log");
  ASSERT_TRUE(logging::InitLogging(path, /*trim=*/false));
  const std::string payload(1000, 'y');
  for (int i = 0; i < 3000; ++i) VESK_LOG(INFO) << "line " << i << " " << payload;
  logging::ShutdownLogging();
  const std::string log = ReadAll(path);
  EXPECT_LE(static_cast<long long>(log.size()), logging::kLogCapBytes);
  EXPECT_GE(static_cast<long long>(log.size()), logging::kMaxLogFileBytes - 2000);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], '[') << "the kept part starts with a whole line";
  EXPECT_NE(log.find("line 2999 "), std::string::npos) << "the newest line is kept";
}

TEST(LogRateLimiterTest, LetsABurstThroughAndCountsTheRest) {
  using Clock = logging::LogRateLimiter::Clock;
  logging::LogRateLimiter limiter(3, std::chrono::milliseconds(1000));
  const Clock::time_point start{};
  uint64_t suppressed = 99;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(limiter.Allow(start + std::chrono::milliseconds(1000 + i), &suppressed));
    EXPECT_EQ(suppressed, 0u);
  }
  for (int i = 0; i < 500; ++i)
    EXPECT_FALSE(limiter.Allow(start + std::chrono::milliseconds(1500), &suppressed));
  EXPECT_TRUE(limiter.Allow(start + std::chrono::milliseconds(2000), &suppressed));
  EXPECT_EQ(suppressed, 500u);
  EXPECT_EQ(logging::SuppressedNote(500), "(500 similar lines suppressed) ");
  EXPECT_EQ(logging::SuppressedNote(0), "");
}

TEST(LogRateLimiterTest, AFloodOfOneStatementWritesAFewLines) {
  testing::LogCapture capture;
  for (int i = 0; i < 10000; ++i) VESK_LOG_LIMITED(WARNING, 5) << "refused " << i;
  const std::string log = capture.Text();
  const auto count = std::count(log.begin(), log.end(), '\n');
  EXPECT_GE(count, 5);
  EXPECT_LE(count, 50) << "at most 5 a second";
}

}  // namespace
}  // namespace vesk
