#include "vesk/core/memory_trace.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(MemoryTraceLineTest, SpacePaddedDateAndTime) {
  std::tm when{};
  when.tm_mon = 5;  // June
  when.tm_mday = 3;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  ProcessMemoryCounters counters{1024, 2048, 77};
  EXPECT_EQ(FormatMemoryTraceLine(12, 34, when, 5678, counters),
            "[12:34: 6 3/ 9 5 7:5678]WorkingSet(1024) PrivateUsage(2048) PageFaultCount(77)\n");
  when.tm_mon = 11;
  when.tm_mday = 31;
  when.tm_hour = 23;
  when.tm_min = 59;
  when.tm_sec = 58;
  EXPECT_EQ(FormatMemoryTraceLine(1, 2, when, 4294967295u, counters).substr(0, 28),
            "[1:2:1231/235958:4294967295]");
}

TEST(MemoryTraceIntervalTest, PositiveNumbersOnly) {
  EXPECT_EQ(ParseMemoryTraceInterval(std::nullopt).milliseconds, 1000);
  EXPECT_FALSE(ParseMemoryTraceInterval(std::nullopt).value_rejected);
  EXPECT_EQ(ParseMemoryTraceInterval("250").milliseconds, 250);
  EXPECT_FALSE(ParseMemoryTraceInterval("250").value_rejected);
  for (const char* bad : {"abc", "0", "-5", "", "12ms", " 5", "99999999999999999999"}) {
    const TraceInterval interval = ParseMemoryTraceInterval(std::string(bad));
    EXPECT_TRUE(interval.value_rejected) << bad;
    EXPECT_EQ(interval.milliseconds, 1000) << bad;
  }
}

TEST(ProcessCountersTest, ParsesProcFilesAndRejectsGarbage) {
  EXPECT_EQ(ParseStatmResidentPages("2000 300 50 1 0 400 0\n"), 300u);
  EXPECT_FALSE(ParseStatmResidentPages("garbage"));
  EXPECT_EQ(
      ParseSmapsRollupPrivateBytes("Rss: 10 kB\nPrivate_Clean: 4 kB\nPrivate_Dirty: 6 kB\nSwap: 1 kB\n"),
      11u * 1024);
  EXPECT_FALSE(ParseSmapsRollupPrivateBytes("Rss: 10 kB\n"));
  // A command name with spaces and parentheses must not shift the fields.
  EXPECT_EQ(ParseStatFaults("99 (a) b (c)) S 1 2 3 4 5 6 700 8 90 10 11 12"), 790u);
  EXPECT_FALSE(ParseStatFaults("99 (x) S 1 2"));
  EXPECT_FALSE(ParseStatFaults("no paren"));
  const auto live = ReadProcessMemoryCounters();
  ASSERT_TRUE(live);
  EXPECT_GT(live->working_set, 0u);
  EXPECT_GT(live->page_faults, 0u);
}

}  // namespace
}  // namespace vesk
