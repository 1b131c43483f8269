// The eight pieces of the window shadow (a 9-grid whose centre stays
// transparent), their margins and the smallest size they can be drawn at.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "vesk/core/shadow/shadow_bitmap.h"
#include "vesk/core/shadow/shadow_geometry.h"

namespace vesk {

class ShadowGrid {
 public:
  enum Index : int {
    TOP = 0,
    LEFT = 1,
    RIGHT = 2,
    BOTTOM = 3,
    TOP_LEFT = 4,
    TOP_RIGHT = 5,
    BOTTOM_LEFT = 6,
    BOTTOM_RIGHT = 7,
  };
  static constexpr int kCount = 8;
  // Resource id of the piece with grid index |i|.
  static constexpr int bmp_index(int i) { return 105 + i; }
  // Largest image Compose draws (a window far larger than any screen keeps
  // its previous image instead of allocating gigabytes).
  static constexpr long long kMaxImagePixels = 8192LL * 8192LL;

  ShadowGrid() = default;
  ShadowGrid(const ShadowGrid&) = delete;  // grid_ points into grid_resource_
  ShadowGrid& operator=(const ShadowGrid&) = delete;

  // Takes the raw bitmap files in grid order, parses each and checks that
  // the pieces fit together. A piece that is missing or malformed stays
  // empty; unless all eight parse and fit, margins and minimum size stay 0.
  void Load(std::array<std::vector<uint8_t>, kCount> resources);

  // True when all eight pieces parsed and the size rules hold.
  bool complete() const { return complete_; }
  const ShadowBitmap& piece(int i) const { return grid_[i]; }
  const ShadowMargins& margins() const { return margins_; }
  int min_width() const { return min_width_; }
  int min_height() const { return min_height_; }

  // Draws the whole shadow image for a window of |width| × |height| into
  // |pixels| (premultiplied 0xAARRGGBB, top row first, |width| pixels a row):
  // bottom band, middle band, top band, everything else transparent. Returns
  // false and leaves |pixels| alone when the grid is not complete or the size
  // is not above the minimum drawable size or above kMaxImagePixels.
  bool Compose(int width, int height, std::vector<uint32_t>* pixels) const;

 private:
  bool SizeRulesHold() const;
  // Copies bottom-up row |row| of band pieces into output row |out_row|
  // (counted from the bottom): |left| and |right| at the edges, |middle|
  // tiled between them, or nothing between when |middle| is null.
  void DrawRow(int width, int height, int out_row, const ShadowBitmap& left, int left_row,
               const ShadowBitmap* middle, int middle_row, const ShadowBitmap& right, int right_row,
               uint32_t* pixels) const;

  std::array<std::vector<uint8_t>, kCount> grid_resource_;
  std::array<ShadowBitmap, kCount> grid_;
  bool complete_ = false;
  ShadowMargins margins_;
  int min_width_ = 0;
  int min_height_ = 0;
};

}  // namespace vesk
