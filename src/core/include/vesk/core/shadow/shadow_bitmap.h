// One piece of the window shadow: a 32-bit bottom-up bitmap file ("BM",
// 40-byte information header, no compression, no palette) parsed in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

// Bitmap description of a parsed piece. |bits| points into the file's own
// bytes (the caller keeps them alive); rows are stored bottom-up, each
// |width_bytes| long, pixels as B, G, R, A with the alpha premultiplied.
struct ShadowBitmap {
  int type = 0;
  int width = 0;
  int height = 0;
  int width_bytes = 0;
  int planes = 0;
  int bits_pixel = 0;
  uint8_t* bits = nullptr;

  bool empty() const { return bits == nullptr || width <= 0 || height <= 0; }
  // Premultiplied 0xAARRGGBB of the pixel in bottom-up row |row|, column |col|.
  uint32_t Pixel(int row, int col) const;
};

// Pieces are a few pixels wide; anything far larger is not artwork of ours.
inline constexpr size_t kMaxShadowBitmapBytes = 1 << 20;
inline constexpr int kMaxShadowBitmapDimension = 1024;

// Parses the bitmap file in |data| (|size| bytes) into |bitmap| and
// premultiplies its pixels in place. Rejects (returns false, leaves |data| and
// |bitmap| untouched) anything that is not a 32-bit uncompressed bottom-up
// bitmap whose pixel rows fill the bytes after the pixel-data offset exactly.
bool ParseBitampBits(size_t size, uint8_t* data, ShadowBitmap& bitmap);

// Each colour channel times alpha / 255, rounded down; alpha unchanged.
uint32_t PremultiplyPixel(uint32_t argb);

}  // namespace vesk
