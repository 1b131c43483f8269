#include "vesk/core/load_time_switches.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(DebuggerWaitTest, BasesDigitsRangeAndDefault) {
  struct Case {
    std::optional<std::string> value;
    uint32_t seconds;
  } cases[] = {
      {std::nullopt, 60},
      {"", 60},
      {"30", 30},
      {"0x10", 16},
      {"0x0A", 60},
      {"0x", 60},
      {"abc", 60},
      {"0", 0},
      {"010", 8},
      {"09", 9},
      {"12a", 60},
      {"-5", 60},
      {"4294967295", 4294967295u},
      {"4294967296", 60},
      {"0xFFFFFFFF", 60},
      {"99999999999999999999999", 60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseDebuggerWaitSeconds(c.value), c.seconds) << (c.value ? *c.value : "<none>");
}

TEST(LoadTimeSwitchTest, MatchesOnlyAtTheStartOfAnArgument) {
  EXPECT_TRUE(HasLoadTimeSwitch({"--force-crash"}, "force-crash"));
  EXPECT_TRUE(HasLoadTimeSwitch({"-FORCE-CRASH"}, "force-crash"));
  EXPECT_TRUE(HasLoadTimeSwitch({"/force-crash"}, "force-crash"));
  EXPECT_TRUE(HasLoadTimeSwitch({"--force-crash=yes"}, "force-crash"));
  EXPECT_FALSE(HasLoadTimeSwitch({"--force-crashes"}, "force-crash"));
  EXPECT_FALSE(HasLoadTimeSwitch({"/tmp/force-crash"}, "force-crash"));
  EXPECT_FALSE(HasLoadTimeSwitch({"force-crash"}, "force-crash"));
  EXPECT_FALSE(HasLoadTimeSwitch({"--x=--force-crash"}, "force-crash"));
}

TEST(LoadTimeSwitchTest, ValueEndsAtTheFirstSpace) {
  EXPECT_EQ(LoadTimeSwitchValue({"--vesk-wait-for-debugger-time=0x10 tail"}, "vesk-wait-for-debugger-time"),
            "0x10");
  EXPECT_EQ(LoadTimeSwitchValue({"/vesk-wait-for-debugger-time="}, "vesk-wait-for-debugger-time"), "");
  EXPECT_FALSE(LoadTimeSwitchValue({"--vesk-wait-for-debugger-time"}, "vesk-wait-for-debugger-time"));
}

TEST(LoadTimeSwitchTest, DebugOnStartupTakesPrecedenceOverForceCrash) {
  const LoadTimeSwitches both =
      ReadLoadTimeSwitches({"--force-crash", "--vesk-debug-on-startup", "--vesk-wait-for-debugger-time=5"});
  EXPECT_TRUE(both.debug_on_startup);
  EXPECT_EQ(both.wait_seconds, 5u);
  EXPECT_FALSE(both.force_crash);
  EXPECT_TRUE(ReadLoadTimeSwitches({"--force-crash"}).force_crash);
  EXPECT_EQ(ReadLoadTimeSwitches({"--vesk-debug-on-startup"}).wait_seconds, 60u);
}

TEST(LoadTimeSwitchTest, DebuggerCommandAndTracerPid) {
  EXPECT_EQ(ExpandDebuggerCommand("gdb -p %ld -e %ld", 42), "gdb -p 42 -e 0");
  EXPECT_EQ(ExpandDebuggerCommand("gdb --pid=%ld", 7), "gdb --pid=7");
  EXPECT_EQ(ExpandDebuggerCommand("nothing", 7), "nothing");
  EXPECT_EQ(ParseTracerPid("Name:\tx\nTracerPid:\t1234\nUid:\t0\n"), 1234);
  EXPECT_EQ(ParseTracerPid("Name:\tx\nTracerPid:\t0\n"), 0);
  EXPECT_EQ(ParseTracerPid("TracerPid:\tbad\n"), 0);
  EXPECT_EQ(ParseTracerPid(""), 0);
}

}  // namespace
}  // namespace vesk
