// Builds bitmap files for the shadow tests, byte by byte, so that each test
// can damage exactly one field.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vesk::testing {

inline void PutU16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 32-bit bottom-up bitmap file; |pixel(row, col)| gives straight-alpha
// 0xAARRGGBB for bottom-up row |row|.
inline std::vector<uint8_t> MakeBitmapFile(int width, int height,
                                           const std::function<uint32_t(int, int)>& pixel) {
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  const size_t size = 54 + row_bytes * height;
  std::vector<uint8_t> b(size, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, 2, static_cast<uint32_t>(size));
  PutU32(b, 10, 54);
  PutU32(b, 14, 40);
  PutU32(b, 18, static_cast<uint32_t>(width));
  PutU32(b, 22, static_cast<uint32_t>(height));
  PutU16(b, 26, 1);
  PutU16(b, 28, 32);
  PutU32(b, 34, static_cast<uint32_t>(row_bytes * height));
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col) PutU32(b, 54 + row * row_bytes + col * 4, pixel(row, col));
  return b;
}

}  // namespace vesk::testing
