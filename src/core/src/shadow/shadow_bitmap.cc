#include "vesk/core/shadow/shadow_bitmap.h"

namespace vesk {
namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr uint16_t kBitmapType = 0x4D42;  // "BM" read little-endian
constexpr uint32_t kNoCompression = 0;    // BI_RGB

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

}  // namespace

uint32_t ShadowBitmap::Pixel(int row, int col) const {
  const uint8_t* p = bits + static_cast<size_t>(row) * width_bytes + static_cast<size_t>(col) * 4;
  return ReadU32(p);
}

uint32_t PremultiplyPixel(uint32_t argb) {
  const uint32_t a = argb >> 24;
  const uint32_t r = ((argb >> 16) & 0xFF) * a / 255;
  const uint32_t g = ((argb >> 8) & 0xFF) * a / 255;
  const uint32_t b = (argb & 0xFF) * a / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

bool ParseBitampBits(size_t size, uint8_t* data, ShadowBitmap& bitmap) {
  // Both headers must be present before any field of them is read.
  if (data == nullptr || size < kFileHeaderBytes + kInfoHeaderBytes || size > kMaxShadowBitmapBytes)
    return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t file_size = ReadU32(data + 2);
  const uint32_t pixel_offset = ReadU32(data + 10);
  if (size < file_size || size < pixel_offset) return false;
  // The pixel data may not overlap the headers it is described by.
  const uint32_t info_size = ReadU32(data + 14);
  if (info_size < kInfoHeaderBytes || pixel_offset < kFileHeaderBytes + info_size) return false;

  const int32_t width = ReadI32(data + 18);
  const int32_t height = ReadI32(data + 22);
  const uint16_t planes = ReadU16(data + 26);
  const uint16_t bits_pixel = ReadU16(data + 28);
  const uint32_t compression = ReadU32(data + 30);
  // The drawing code reads four bytes per pixel from bottom-up rows; a
  // negative height (top-down rows) or any other depth would be misread.
  if (width <= 0 || height <= 0 || width > kMaxShadowBitmapDimension || height > kMaxShadowBitmapDimension)
    return false;
  if (planes != 1 || bits_pixel != 32 || compression != kNoCompression) return false;

  const size_t row_bytes = ((static_cast<size_t>(bits_pixel) / 8 * width) + 1) & ~static_cast<size_t>(1);
  if (size - pixel_offset != row_bytes * static_cast<size_t>(height)) return false;

  ShadowBitmap parsed;
  parsed.type = kBitmapType;
  parsed.width = width;
  parsed.height = height;
  parsed.width_bytes = static_cast<int>(row_bytes);
  parsed.planes = planes;
  parsed.bits_pixel = bits_pixel;
  parsed.bits = data + pixel_offset;
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      uint8_t* p = parsed.bits + static_cast<size_t>(row) * row_bytes + static_cast<size_t>(col) * 4;
      const uint32_t premultiplied = PremultiplyPixel(ReadU32(p));
      for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(premultiplied >> (8 * i));
    }
  }
  bitmap = parsed;
  return true;
}

}  // namespace vesk
