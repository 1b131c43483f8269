#include "vesk/core/start_url.h"

#include <gtest/gtest.h>

#include "vesk/core/ipc_message.h"

namespace vesk {
namespace {

constexpr char kStart[] = "vesk://vesk/res/app_init.html";

StartUrlDecision Decide(std::vector<std::string> args, const char* start = kStart) {
  args.insert(args.begin(), "pelicard");
  return ComposeStartUrl(start, CommandLine::FromArgv(args));
}

TEST(StartUrlTest, StartupValueShapesTheQuery) {
  EXPECT_EQ(Decide({}).url, kStart);
  EXPECT_EQ(Decide({"--vesk-startup="}).url, kStart);
  EXPECT_EQ(Decide({"--vesk-startup=tray"}).url, std::string(kStart) + "?vesk-startup=tray");
  EXPECT_EQ(Decide({"--vesk-startup=a b&c"}).url, std::string(kStart) + "?vesk-startup=a b&c");
  EXPECT_EQ(Decide({"--vesk-startup=tray"}, "vesk://vesk/x.html?a=1").url,
            "vesk://vesk/x.html?a=1?vesk-startup=tray");
  const StartUrlDecision exit = Decide({"--vesk-startup=exit-process"});
  EXPECT_TRUE(exit.exit_process);
  EXPECT_FALSE(Decide({"--vesk-startup=EXIT-PROCESS"}).exit_process);
}

TEST(StartUrlTest, UploadOnlyCountsWithoutStartup) {
  const StartUrlDecision upload = Decide({"--upload-extension=L3RtcC9h"});
  EXPECT_TRUE(upload.load_upload_request);
  EXPECT_EQ(upload.upload_value, "L3RtcC9h");
  EXPECT_EQ(upload.url, std::string(kStart) + "?upload_ext=true");

  const StartUrlDecision both = Decide({"--upload-extension=L3RtcC9h", "--vesk-startup=tray"});
  EXPECT_FALSE(both.load_upload_request);
  EXPECT_EQ(both.url, std::string(kStart) + "?vesk-startup=tray");
  // An empty vesk-startup still wins over the upload.
  EXPECT_FALSE(Decide({"--upload-extension=x", "--vesk-startup="}).load_upload_request);
}

TEST(SecondInstanceMessageTest, UploadThenExitThenForeground) {
  auto decide = [](std::vector<std::string> args) {
    args.insert(args.begin(), "pelicard");
    return DecideSecondInstanceMessage(CommandLine::FromArgv(args));
  };
  auto upload = decide({"--vesk-startup=exit-process", "--upload-extension=abc"});
  ASSERT_TRUE(upload);
  EXPECT_EQ(upload->id, kUploadMessage);
  EXPECT_EQ(upload->data, "abc");
  auto exit = decide({"--vesk-startup=exit-process"});
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->id, kExitMessage);
  EXPECT_EQ(exit->data, "exit-process");
  auto foreground = decide({});
  ASSERT_TRUE(foreground);
  EXPECT_EQ(foreground->id, kForegroundMessage);
  EXPECT_EQ(foreground->data, "");
  EXPECT_FALSE(decide({"--vesk-startup=tray"}));
  EXPECT_FALSE(decide({"--vesk-startup="}));
}

}  // namespace
}  // namespace vesk
