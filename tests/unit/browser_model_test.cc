// Pure pieces of the window layer: menu descriptions, the error page URL,
// console lines and window geometry.
#include <gtest/gtest.h>

#include "vesk/core/browser/console_message.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/browser/popup_menu_model.h"
#include "vesk/core/browser/window_geometry.h"

namespace vesk {
namespace {

TEST(PopupMenuModelTest, ItemRules) {
  const auto items = ParsePopupMenu(
      R"([{"menu":true,"text":"Open","menu_id":3,"enable":true},{"menu":true,"separator":true},{"text":"x"},
          {"menu":true,"text":"More","children":[{"menu":true,"text":"Inner","menu_id":9}]},
          {"menu":true,"text":"After","menu_id":4},{"menu":"true","text":"string menu"},{"menu":true}])");
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 5u);
  EXPECT_EQ((*items)[0].kind, MenuItem::Kind::kCommand);
  EXPECT_EQ((*items)[0].text, "Open");
  EXPECT_TRUE((*items)[0].enabled);
  EXPECT_EQ((*items)[0].command_id, 0x8003);
  EXPECT_EQ((*items)[1].kind, MenuItem::Kind::kSeparator);
  EXPECT_EQ((*items)[1].command_id, 0x8000);
  EXPECT_EQ((*items)[2].kind, MenuItem::Kind::kSubmenu);
  EXPECT_FALSE((*items)[2].enabled);  // "enable" defaults to false
  ASSERT_EQ((*items)[2].children.size(), 1u);
  EXPECT_EQ((*items)[2].children[0].command_id, 0x8009);
  // A command after a submenu is judged by its own members only.
  EXPECT_EQ((*items)[3].kind, MenuItem::Kind::kCommand);
  EXPECT_EQ((*items)[3].command_id, 0x8004);
  EXPECT_EQ((*items)[4].text, "");
  EXPECT_EQ((*items)[4].command_id, 0x8000);
}

TEST(PopupMenuModelTest, NoMenuForNonArraysOrRunawayNesting) {
  EXPECT_FALSE(ParsePopupMenu("not json"));
  EXPECT_FALSE(ParsePopupMenu(R"({"menu":true})"));
  EXPECT_FALSE(ParsePopupMenu(""));
  EXPECT_TRUE(ParsePopupMenu("[]"));
  std::string deep = "[";
  for (int i = 0; i < 40; ++i) deep += R"({"menu":true,"children":[)";
  for (int i = 0; i < 40; ++i) deep += "]}";
  deep += "]";
  EXPECT_FALSE(ParsePopupMenu(deep));
  EXPECT_FALSE(ParsePopupMenu(std::string(100000, '[')));
}

TEST(PopupMenuModelTest, ClickScriptOnlyForTheCommandRange) {
  EXPECT_EQ(MenuClickScript(0x8003), "window.winhelper.onMenuClick && window.winhelper.onMenuClick(3)");
  EXPECT_EQ(MenuClickScript(0xBFFF), "window.winhelper.onMenuClick && window.winhelper.onMenuClick(16383)");
  EXPECT_FALSE(MenuClickScript(0x7FFF));
  EXPECT_FALSE(MenuClickScript(0xC000));
}

TEST(PopupMenuModelTest, AmpersandMarksTheMnemonicAndUnderscoreStaysLiteral) {
  EXPECT_EQ(MenuLabelWithMnemonic("&Open"), "_Open");
  EXPECT_EQ(MenuLabelWithMnemonic("Save &As"), "Save _As");
  EXPECT_EQ(MenuLabelWithMnemonic("Fish && Chips"), "Fish & Chips");
  EXPECT_EQ(MenuLabelWithMnemonic("snake_case"), "snake__case");
  EXPECT_EQ(MenuLabelWithMnemonic("end&"), "end");
  EXPECT_EQ(MenuLabelWithMnemonic("&&&&"), "&&");
  EXPECT_EQ(MenuLabelWithMnemonic(""), "");
}

TEST(ErrorProcessorTest, UrlCarriesFailureAndDataInKeyOrderUnescaped) {
  ErrorProcessor& processor = ErrorProcessor::Get();
  processor.ResetForTesting();
  EXPECT_FALSE(processor.BuildErrorPageUrl("http://x/", "boom"));
  processor.SetErrorHandlerUrl("vesk://vesk/res/error.html");
  processor.SetErrorData({{"b", "2"}, {"a", "1"}});
  processor.SetErrorData({{"b", "3 & 4"}});
  EXPECT_EQ(processor.BuildErrorPageUrl("http://host/p?q=1", "Name not resolved"),
            "vesk://vesk/res/error.html?url=http://host/p?q=1&error_text=Name not resolved&a=1&b=3 & 4");
  EXPECT_EQ(processor.error_data().size(), 2u);
  processor.ResetForTesting();
}

TEST(ConsoleMessageTest, SourceNameRule) {
  EXPECT_EQ(FormatConsoleMessage("vesk://pelicard/js/main.js?v=2", 17, "hello"),
            "[CONSOLE:main.js(17)] hello");
  EXPECT_EQ(ConsoleSourceName("main.js"), "main.js");
  EXPECT_EQ(ConsoleSourceName("vesk://vesk/a/b.js?x=/y/z.js"), "b.js");
  EXPECT_EQ(ConsoleSourceName("vesk://vesk/dir/"), "");
  EXPECT_EQ(ConsoleSourceName(""), "");
}

TEST(WindowGeometryTest, PositionRequestsKeepSizeAndReportLastError) {
  const WindowRect current{100, 100, 900, 700};
  PositionRequest request;
  request.x = {PositionRequest::Type::kValid, 10};
  EXPECT_EQ(ApplyPositionRequest(current, request), (WindowRect{10, 100, 810, 700}));
  request.x.type = PositionRequest::Type::kWrongType;
  request.y = {PositionRequest::Type::kValid, 20};
  request.height = {PositionRequest::Type::kValid, 50};
  EXPECT_EQ(ApplyPositionRequest(current, request), (WindowRect{100, 20, 900, 70}));
  EXPECT_EQ(PositionRequestError(request), "x should be number");
  request.topmost.type = PositionRequest::Type::kWrongType;
  EXPECT_EQ(PositionRequestError(request), "topmost should be boolean");
  EXPECT_EQ(PositionRequestError(PositionRequest{}), "");
}

TEST(WindowGeometryTest, SizeLimitRules) {
  const Size area{1280, 1000};
  SizeLimits plain = ComputeSizeLimits(area, false, {4, 4}, std::nullopt, std::nullopt);
  EXPECT_EQ(plain.maximum, (Size{1280, 1000}));
  EXPECT_EQ(plain.minimum, (Size{32, 32}));
  EXPECT_EQ(ComputeSizeLimits(area, true, {4, 4}, std::nullopt, std::nullopt).maximum, (Size{1288, 1008}));
  SizeLimits ignored = ComputeSizeLimits(area, false, {0, 0}, Size{20, 20}, Size{100000, 100000});
  EXPECT_EQ(ignored.maximum, (Size{1280, 1000}));
  EXPECT_EQ(ignored.minimum, (Size{32, 32}));
  SizeLimits mixed = ComputeSizeLimits(area, false, {0, 0}, Size{640, 10}, Size{2000, 600});
  EXPECT_EQ(mixed.minimum, (Size{640, 32}));
  EXPECT_EQ(mixed.maximum, (Size{1280, 600}));
}

}  // namespace
}  // namespace vesk
