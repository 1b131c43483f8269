// Shadow pieces: the bitmap parser, then the whole grid and its image with
// the input as one of the eight pieces and the shipped sizes for the rest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "vesk/core/shadow/shadow_bitmap.h"
#include "vesk/core/shadow/shadow_grid.h"

namespace {

std::vector<uint8_t> Piece(int width, int height) {
  const uint32_t size = 54 + static_cast<uint32_t>(width * height * 4);
  std::vector<uint8_t> b(size, 0x80);
  const uint32_t fields[][2] = {
      {2, size}, {10, 54}, {14, 40}, {18, static_cast<uint32_t>(width)}, {22, static_cast<uint32_t>(height)},
      {30, 0}};
  b[0] = 'B';
  b[1] = 'M';
  for (const auto& f : fields)
    for (int i = 0; i < 4; ++i) b[f[0] + i] = static_cast<uint8_t>(f[1] >> (8 * i));
  b[26] = 1;
  b[27] = 0;
  b[28] = 32;
  b[29] = 0;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  vesk::ShadowBitmap bitmap;
  if (vesk::ParseBitampBits(copy.size(), copy.data(), bitmap)) {
    for (int row = 0; row < bitmap.height; ++row)
      for (int col = 0; col < bitmap.width; ++col) (void)bitmap.Pixel(row, col);
  }
  if (size == 0) return 0;
  const int sizes[8][2] = {{6, 5}, {9, 6}, {9, 6}, {6, 9}, {9, 5}, {9, 5}, {9, 9}, {9, 9}};
  std::array<std::vector<uint8_t>, vesk::ShadowGrid::kCount> pieces;
  for (int i = 0; i < vesk::ShadowGrid::kCount; ++i) pieces[i] = Piece(sizes[i][0], sizes[i][1]);
  pieces[data[0] % vesk::ShadowGrid::kCount].assign(data + 1, data + size);
  vesk::ShadowGrid grid;
  grid.Load(std::move(pieces));
  std::vector<uint32_t> image;
  grid.Compose(grid.min_width() + 1 + data[0] % 7, grid.min_height() + 1 + data[size - 1] % 5, &image);
  return 0;
}
