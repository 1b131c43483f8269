#include "vesk/core/command_line.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(CommandLineTest, ParsesPrefixesValuesAndCase) {
  const CommandLine cl = CommandLine::FromArgv(
      {"/opt/app/pelicard", "--Vesk-Startup=tray", "-force-show-window", "--v=2", "--empty=", "file.txt"});
  EXPECT_EQ(cl.program(), "/opt/app/pelicard");
  EXPECT_TRUE(cl.HasSwitch("vesk-startup"));
  EXPECT_TRUE(cl.HasSwitch("VESK-STARTUP"));
  EXPECT_EQ(cl.GetSwitchValue("vesk-startup"), "tray");  // value keeps its case
  EXPECT_TRUE(cl.HasSwitch("force-show-window"));
  EXPECT_EQ(cl.GetSwitchValue("force-show-window"), "");
  EXPECT_EQ(cl.GetSwitchValue("v"), "2");
  EXPECT_TRUE(cl.HasSwitch("empty"));
  EXPECT_EQ(cl.GetSwitchValue("empty"), "");
  EXPECT_EQ(cl.args(), std::vector<std::string>{"file.txt"});
  EXPECT_FALSE(cl.HasSwitch("absent"));
}

TEST(CommandLineTest, ValueKeepsLaterEqualsSignsAndLaterSwitchWins) {
  const CommandLine cl = CommandLine::FromArgv({"p", "--upload-extension=YWJj==", "--x=1", "--X=2"});
  EXPECT_EQ(cl.GetSwitchValue("upload-extension"), "YWJj==");
  EXPECT_EQ(cl.GetSwitchValue("x"), "2");
}

TEST(CommandLineTest, DoubleDashEndsSwitchesAndSlashIsAPath) {
  const CommandLine cl = CommandLine::FromArgv({"p", "/force-show-window", "-", "--", "--force-show-window"});
  EXPECT_FALSE(cl.HasSwitch("force-show-window"));
  EXPECT_EQ(cl.args(), (std::vector<std::string>{"/force-show-window", "-", "--force-show-window"}));
}

TEST(CommandLineTest, SplitsProcCmdlineKeepingEmptyArguments) {
  const char bytes[] = "pelicard\0--a=1\0\0last\0";
  const std::string raw(bytes, sizeof bytes - 1);
  EXPECT_EQ(CommandLine::SplitProcCmdline(raw), (std::vector<std::string>{"pelicard", "--a=1", "", "last"}));
  EXPECT_TRUE(CommandLine::SplitProcCmdline("").empty());
}

}  // namespace
}  // namespace vesk
