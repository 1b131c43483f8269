#include "vesk/core/shadow/shadow_grid.h"

#include <gtest/gtest.h>

#include <string>

#include "shadow_art.h"
#include "shadow_test_bitmaps.h"
#include "test_util.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

using Pieces = std::array<std::vector<uint8_t>, ShadowGrid::kCount>;

const char* const kArtworkNames[ShadowGrid::kCount] = {
    "top", "left", "right", "bottom", "top_left", "top_right", "bottom_left", "bottom_right"};

Pieces ShippedPieces() {
  Pieces pieces;
  for (int i = 0; i < ShadowGrid::kCount; ++i) {
    std::string data;
    EXPECT_TRUE(ReadFileToString(JoinPath(VESK_SHADOW_ARTWORK_DIR, std::string(kArtworkNames[i]) + ".bmp"),
                                 &data, 1 << 20));
    pieces[i].assign(data.begin(), data.end());
  }
  return pieces;
}

// Opaque pixels that name their piece, row and column, so any piece, row or
// column taken from the wrong place shows up.
uint32_t Tag(int piece, int row, int col) {
  return 0xFF000000u | (static_cast<uint32_t>(piece + 1) << 16) | (static_cast<uint32_t>(row) << 8) |
         static_cast<uint32_t>(col);
}

// Pieces of the shipped sizes, except RIGHT, whose height differs from
// LEFT's so the two vertical tilings are told apart.
Pieces TaggedPieces(int right_height = 4) {
  const int sizes[ShadowGrid::kCount][2] = {{6, 5}, {9, 6}, {9, right_height}, {6, 9}, {9, 5}, {9, 5},
                                            {9, 9}, {9, 9}};
  Pieces pieces;
  for (int i = 0; i < ShadowGrid::kCount; ++i) {
    pieces[i] =
        testing::MakeBitmapFile(sizes[i][0], sizes[i][1], [i](int row, int col) { return Tag(i, row, col); });
  }
  return pieces;
}

TEST(ShadowGridTest, ShippedArtworkLoadsWithTheExpectedMarginsAndMinimumSize) {
  ShadowGrid grid;
  grid.Load(ShippedPieces());
  ASSERT_TRUE(grid.complete());
  for (int i = 0; i < ShadowGrid::kCount; ++i) {
    const auto [width, height] = testing::ArtworkPieceSize(kArtworkNames[i]);
    EXPECT_EQ(grid.piece(i).width, width) << kArtworkNames[i];
    EXPECT_EQ(grid.piece(i).height, height) << kArtworkNames[i];
  }
  EXPECT_EQ(grid.margins(), testing::ArtworkMargins());
  EXPECT_NE(grid.margins(), ShadowMargins{});
  EXPECT_EQ(grid.min_width(), 24);
  EXPECT_EQ(grid.min_height(), 20);
  // Soft artwork: some shadow next to the window, nothing at the outer rim.
  const ShadowBitmap& left = grid.piece(ShadowGrid::LEFT);
  EXPECT_GT(left.Pixel(0, left.width - 1) >> 24, 40u);
  EXPECT_EQ(left.Pixel(0, 0) >> 24, 0u);
  EXPECT_EQ(ShadowGrid::bmp_index(ShadowGrid::TOP), 105);
  EXPECT_EQ(ShadowGrid::bmp_index(ShadowGrid::BOTTOM_RIGHT), 112);
}

TEST(ShadowGridTest, MissingOrMalformedPieceLeavesMarginsAndMinimumAtZero) {
  testing::TempDir dir;
  const std::string log_path = dir.File("grid.log");
  ASSERT_TRUE(logging::InitLogging(log_path));
  logging::SetDchecksEnabled(true);

  Pieces pieces = TaggedPieces();
  pieces[ShadowGrid::TOP_RIGHT].clear();
  ShadowGrid missing;
  missing.Load(std::move(pieces));
  EXPECT_FALSE(missing.complete());
  EXPECT_TRUE(missing.piece(ShadowGrid::TOP_RIGHT).empty());
  EXPECT_FALSE(missing.piece(ShadowGrid::TOP).empty());  // the others still parse

  pieces = TaggedPieces();
  pieces[ShadowGrid::BOTTOM].resize(pieces[ShadowGrid::BOTTOM].size() - 1);
  ShadowGrid truncated;
  truncated.Load(std::move(pieces));
  EXPECT_FALSE(truncated.complete());

  for (const ShadowGrid* grid : {&missing, &truncated}) {
    EXPECT_EQ(grid->margins(), ShadowMargins{});
    EXPECT_EQ(grid->min_width(), 0);
    EXPECT_EQ(grid->min_height(), 0);
    std::vector<uint32_t> image;
    EXPECT_FALSE(grid->Compose(100, 100, &image));
    EXPECT_TRUE(image.empty());
  }
  logging::ShutdownLogging();
  std::string log;
  ASSERT_TRUE(ReadFileToString(log_path, &log, 1 << 20));
  EXPECT_NE(log.find("Check failed: !grid_resource[i].empty(). "), std::string::npos) << log;
  EXPECT_NE(log.find("Check failed: ParseBitampBits(grid_resource_[i].size(), &grid_resource_[i][0], "
                     "grid_[i]). "),
            std::string::npos)
      << log;
}

TEST(ShadowGridTest, EachSizeRuleIsEnforced) {
  // Each case breaks one rule with a piece that parses fine.
  const struct {
    int piece, width, height;
  } cases[] = {
      {ShadowGrid::TOP, 6, 4},           // top heights differ
      {ShadowGrid::BOTTOM_RIGHT, 9, 8},  // bottom heights differ
      {ShadowGrid::BOTTOM_LEFT, 8, 9},   // left widths differ
      {ShadowGrid::TOP_RIGHT, 10, 5},    // right widths differ
  };
  for (const auto& c : cases) {
    Pieces pieces = TaggedPieces();
    pieces[c.piece] = testing::MakeBitmapFile(c.width, c.height, [](int, int) { return 0xFF000000u; });
    ShadowGrid grid;
    grid.Load(std::move(pieces));
    EXPECT_FALSE(grid.complete()) << c.piece;
    EXPECT_EQ(grid.margins(), ShadowMargins{}) << c.piece;
    EXPECT_FALSE(grid.piece(c.piece).empty());
  }
}

TEST(ShadowGeometryTest, ShadowSurroundsTheHost) {
  const ShadowMargins margins{9, 5, 9, 9};
  EXPECT_EQ(ShadowRectForHost({100, 100, 800, 600}, margins), (ShadowRect{91, 95, 818, 614}));
  const ShadowRect tiny = ShadowRectForHost({0, 0, 10, 10}, margins);
  EXPECT_EQ(tiny, (ShadowRect{-9, -5, 28, 24}));
  EXPECT_TRUE(ShadowSizeIsDrawable(tiny.width, tiny.height, 24, 20));
  EXPECT_FALSE(ShadowSizeIsDrawable(24, 21, 24, 20));
  EXPECT_FALSE(ShadowSizeIsDrawable(25, 20, 24, 20));
  EXPECT_TRUE(ShadowSizeIsDrawable(25, 21, 24, 20));
  // Without margins the shadow covers exactly the host.
  EXPECT_EQ(ShadowRectForHost({100, 100, 800, 600}, {}), (ShadowRect{100, 100, 800, 600}));

  EXPECT_EQ(ShadowCentre(818, 614, margins), (ShadowRect{9, 5, 800, 600}));
  EXPECT_EQ(ShadowCentre(10, 10, margins), (ShadowRect{9, 5, 0, 0}));
}

TEST(ShadowGeometryTest, PointsOnTheShadowBecomeHostClientPoints) {
  const ShadowRect host{100, 100, 800, 600};
  const ShadowRect shadow = ShadowRectForHost(host, {9, 5, 9, 9});
  double x = 0, y = 0;
  ShadowPointToHost(4, 2, shadow, host, &x, &y);  // top-left corner piece
  EXPECT_EQ(x, -5);
  EXPECT_EQ(y, -3);
  ShadowPointToHost(815.5, 610, shadow, host, &x, &y);  // bottom-right corner piece
  EXPECT_EQ(x, 806.5);
  EXPECT_EQ(y, 605);
}

TEST(ShadowGeometryTest, ConstantAlphaTruncatesAndKeepsTheLowByte) {
  EXPECT_EQ(ConstantAlphaForOpacity(1.0), 255);
  EXPECT_EQ(ConstantAlphaForOpacity(0.5), 127);  // 127.5 truncated
  EXPECT_EQ(ConstantAlphaForOpacity(0.0), 0);
  EXPECT_EQ(ConstantAlphaForOpacity(2.0), 254);   // 510, low 8 bits
  EXPECT_EQ(ConstantAlphaForOpacity(-0.5), 129);  // -127, low 8 bits
  EXPECT_EQ(ConstantAlphaForOpacity(0.0 / 0.0), 255);
  EXPECT_EQ(ConstantAlphaForOpacity(1e300), 255);
}

class ShadowComposeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid_.Load(TaggedPieces());
    ASSERT_TRUE(grid_.complete());
  }
  // Output pixel at (x, y), top row first.
  uint32_t At(int x, int y) const { return image_[static_cast<size_t>(y) * width_ + x]; }
  bool Compose(int width, int height) {
    width_ = width;
    height_ = height;
    return grid_.Compose(width, height, &image_);
  }

  ShadowGrid grid_;
  std::vector<uint32_t> image_;
  int width_ = 0, height_ = 0;
};

TEST_F(ShadowComposeTest, CornersBandsAndTransparentCentre) {
  ASSERT_TRUE(Compose(47, 33));
  ASSERT_EQ(image_.size(), 47u * 33u);
  const int W = 47, H = 33;
  // Piece rows are stored bottom-up; output row y counts from the top.
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(At(x, y), Tag(ShadowGrid::TOP_LEFT, 4 - y, x));
      EXPECT_EQ(At(W - 9 + x, y), Tag(ShadowGrid::TOP_RIGHT, 4 - y, x));
    }
    for (int x = 9; x < W - 9; ++x) EXPECT_EQ(At(x, y), Tag(ShadowGrid::TOP, 4 - y, (x - 9) % 6)) << x;
  }
  for (int y = H - 9; y < H; ++y) {
    const int row = H - 1 - y;
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(At(x, y), Tag(ShadowGrid::BOTTOM_LEFT, row, x));
      EXPECT_EQ(At(W - 9 + x, y), Tag(ShadowGrid::BOTTOM_RIGHT, row, x));
    }
    for (int x = 9; x < W - 9; ++x) EXPECT_EQ(At(x, y), Tag(ShadowGrid::BOTTOM, row, (x - 9) % 6)) << x;
  }
  // Middle band: LEFT and RIGHT repeat their rows upward from the bottom
  // band, each by its own height; between them nothing is drawn.
  for (int y = 5; y < H - 9; ++y) {
    const int k = (H - 1 - y) - 9;
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(At(x, y), Tag(ShadowGrid::LEFT, k % 6, x)) << y;
      EXPECT_EQ(At(W - 9 + x, y), Tag(ShadowGrid::RIGHT, k % 4, x)) << y;
    }
    for (int x = 9; x < W - 9; ++x) ASSERT_EQ(At(x, y), 0u) << x << "," << y;
  }
}

TEST_F(ShadowComposeTest, OnlySizesAboveTheMinimumAreDrawn) {
  EXPECT_EQ(grid_.min_width(), 24);
  EXPECT_EQ(grid_.min_height(), 20);
  image_ = {1, 2, 3};
  EXPECT_FALSE(Compose(24, 21));
  EXPECT_FALSE(Compose(25, 20));
  EXPECT_FALSE(Compose(0, 0));
  EXPECT_FALSE(Compose(-30, 40));
  EXPECT_FALSE(Compose(100000, 100000));                // beyond any screen: no huge allocation
  EXPECT_EQ(image_, (std::vector<uint32_t>{1, 2, 3}));  // previous image kept
  // The smallest drawable size: seven TOP columns between the corners, the
  // last one already the start of the second tile; seven middle rows.
  ASSERT_TRUE(Compose(25, 21));
  EXPECT_EQ(At(9, 0), Tag(ShadowGrid::TOP, 4, 0));
  EXPECT_EQ(At(15, 0), Tag(ShadowGrid::TOP, 4, 0));
  EXPECT_EQ(At(16, 0), Tag(ShadowGrid::TOP_RIGHT, 4, 0));
  EXPECT_EQ(At(0, 11), Tag(ShadowGrid::LEFT, 0, 0));
  EXPECT_EQ(At(0, 5), Tag(ShadowGrid::LEFT, 0, 0));
  EXPECT_EQ(At(12, 5), 0u);
  // A 10 × 10 host's shadow.
  EXPECT_TRUE(Compose(28, 24));
}

TEST(ShadowComposeShippedTest, ImageIsPremultipliedArtworkAroundAClearCentre) {
  ShadowGrid grid;
  grid.Load(ShippedPieces());
  std::vector<uint32_t> image;
  ASSERT_TRUE(grid.Compose(818, 614, &image));
  for (size_t i = 0; i < image.size(); ++i) {
    const uint32_t p = image[i];
    const uint32_t a = p >> 24;
    // Premultiplied: no channel exceeds alpha.
    ASSERT_LE((p >> 16) & 0xFF, a);
    ASSERT_LE((p >> 8) & 0xFF, a);
    ASSERT_LE(p & 0xFF, a);
  }
  const ShadowRect centre = ShadowCentre(818, 614, grid.margins());
  for (int y = centre.y; y < centre.y + centre.height; ++y)
    for (int x = centre.x; x < centre.x + centre.width; ++x) ASSERT_EQ(image[y * 818 + x], 0u);
  EXPECT_GT(image[300 * 818 + 8] >> 24, 0u);    // next to the host's left edge
  EXPECT_GT(image[611 * 818 + 400] >> 24, 0u);  // below the host
}

}  // namespace
}  // namespace vesk
