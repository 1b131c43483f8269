// The tray icon's pure rules: cutting texts to the desktop's fields, the
// pixel layout hosts read, the balloon's expiry and when the watcher's
// arrival counts as the panel restarting.
#include "vesk/core/tray/tray_data.h"

#include <gtest/gtest.h>

namespace vesk::tray {
namespace {

TEST(TrayCutText, CutsCharactersNotBytesAndMendsInvalidText) {
  EXPECT_EQ(CutText("short", kToolTipLimit), "short");
  EXPECT_EQ(CutText(std::string(200, 'a'), kToolTipLimit), std::string(127, 'a'));
  // Three bytes per character: a byte cut would leave half a character.
  std::string wide;
  for (int i = 0; i < 70; ++i) wide += "\xe9\x82\xae";  // 邮
  const std::string cut = CutText(wide, kBalloonTitleLimit);
  EXPECT_EQ(cut.size(), 63u * 3);
  EXPECT_EQ(cut, wide.substr(0, 63 * 3));
  // The bus accepts only valid UTF-8: a stray byte is replaced, not passed on.
  const std::string mended = CutText(std::string("a\xff"
                                                 "b"),
                                     kBalloonTextLimit);
  EXPECT_EQ(mended,
            "a\xef\xbf\xbd"
            "b");
  EXPECT_EQ(CutText("", kToolTipLimit), "");
}

TEST(TrayPixels, ArgbInNetworkOrderWithRowPadding) {
  // Two RGBA pixels per row, rows padded to 12 bytes.
  const uint8_t rgba[] = {1, 2,  3,  4,  5,  6,  7,  8,  0xee, 0xee, 0xee, 0xee,
                          9, 10, 11, 12, 13, 14, 15, 16, 0xee, 0xee, 0xee, 0xee};
  const std::vector<uint8_t> expected = {4, 1, 2, 3, 8, 5, 6, 7, 12, 9, 10, 11, 16, 13, 14, 15};
  EXPECT_EQ(ToNetworkArgb(rgba, 2, 2, 12, true), expected);
  // Without alpha every pixel is opaque.
  const uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
  const std::vector<uint8_t> opaque = {0xff, 1, 2, 3, 0xff, 4, 5, 6};
  EXPECT_EQ(ToNetworkArgb(rgb, 2, 1, 6, false), opaque);
  EXPECT_TRUE(ToNetworkArgb(nullptr, 2, 2, 8, true).empty());
  EXPECT_TRUE(ToNetworkArgb(rgba, 0, 2, 12, true).empty());
}

TEST(TrayBalloon, AbsentOrZeroDelayIsTheServersDefaultNeverForever) {
  EXPECT_EQ(NotificationTimeout(0), -1);
  EXPECT_EQ(NotificationTimeout(-5), -1);
  EXPECT_EQ(NotificationTimeout(1), 1);
  EXPECT_EQ(NotificationTimeout(4000), 4000);
}

TEST(TrayWatcherPresence, OnlyAWatcherAfterTheStartIsARestart) {
  {
    // A watcher at the start is the desktop as it was; later ones restart.
    WatcherPresence presence;
    EXPECT_FALSE(presence.OnAppeared());
    presence.OnVanished();
    EXPECT_FALSE(presence.present());
    EXPECT_TRUE(presence.OnAppeared());
    presence.OnVanished();
    EXPECT_TRUE(presence.OnAppeared());
  }
  {
    // No watcher at the start: the first one to come is the panel starting.
    WatcherPresence presence;
    presence.OnVanished();
    EXPECT_TRUE(presence.OnAppeared());
    EXPECT_TRUE(presence.present());
  }
}

}  // namespace
}  // namespace vesk::tray
