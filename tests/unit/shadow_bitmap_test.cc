#include "vesk/core/shadow/shadow_bitmap.h"

#include <gtest/gtest.h>

#include "shadow_test_bitmaps.h"

namespace vesk {
namespace {

using testing::MakeBitmapFile;
using testing::PutU16;
using testing::PutU32;

std::vector<uint8_t> Valid(int width = 6, int height = 5) {
  return MakeBitmapFile(width, height, [](int row, int col) {
    return 0x80000000u | (static_cast<uint32_t>(row) << 16) | static_cast<uint32_t>(col);
  });
}

bool Parses(std::vector<uint8_t> file) {
  ShadowBitmap bitmap;
  const bool ok = ParseBitampBits(file.size(), file.data(), bitmap);
  if (!ok) {
    EXPECT_TRUE(bitmap.empty()) << "a rejected file must leave the description alone";
  }
  return ok;
}

TEST(ShadowBitmapTest, ParsesDescriptionAndPremultipliesInPlace) {
  std::vector<uint8_t> file = MakeBitmapFile(3, 2, [](int row, int col) -> uint32_t {
    if (row == 0 && col == 0) return 0x80FF6403;  // a=128 r=255 g=100 b=3
    if (row == 1 && col == 2) return 0x00FFFFFF;  // fully transparent white
    return 0xFF102030;
  });
  ShadowBitmap bitmap;
  ASSERT_TRUE(ParseBitampBits(file.size(), file.data(), bitmap));
  EXPECT_EQ(bitmap.type, 0x4D42);
  EXPECT_EQ(bitmap.width, 3);
  EXPECT_EQ(bitmap.height, 2);
  EXPECT_EQ(bitmap.width_bytes, 12);
  EXPECT_EQ(bitmap.planes, 1);
  EXPECT_EQ(bitmap.bits_pixel, 32);
  EXPECT_EQ(bitmap.bits, file.data() + 54);
  // Channels times alpha / 255, rounded down: 255*128/255 = 128,
  // 100*128/255 = 50.2, 3*128/255 = 1.5.
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x80803201u);
  EXPECT_EQ(bitmap.Pixel(1, 2), 0u);
  EXPECT_EQ(bitmap.Pixel(0, 1), 0xFF102030u);
  // Premultiplied in the file's own bytes (B, G, R, A).
  EXPECT_EQ(file[54], 0x01);
  EXPECT_EQ(file[55], 0x32);
  EXPECT_EQ(file[56], 0x80);
  EXPECT_EQ(file[57], 0x80);
}

TEST(ShadowBitmapTest, RejectsTruncatedFilesAtEveryLength) {
  const std::vector<uint8_t> file = Valid();
  for (size_t size = 0; size < file.size(); ++size) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + size);
    // The size fields still describe the whole file.
    EXPECT_FALSE(Parses(cut)) << "length " << size;
  }
  ShadowBitmap bitmap;
  EXPECT_FALSE(ParseBitampBits(0, nullptr, bitmap));
}

TEST(ShadowBitmapTest, RejectsSizeFieldsThatDisagreeWithTheData) {
  std::vector<uint8_t> file = Valid();
  PutU32(file, 2, static_cast<uint32_t>(file.size() + 1));  // file size beyond the data
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 10, static_cast<uint32_t>(file.size() + 100));  // pixel offset beyond the data
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 10, 0xFFFFFFF0u);
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 10, 30);  // pixel data inside the headers
  EXPECT_FALSE(Parses(file));

  file = Valid();
  file.push_back(0);  // one byte more than the rows need
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 22, 6);  // one row more than present
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 18, 0x7FFFFFFF);  // absurd width: no overflow into a match
  EXPECT_FALSE(Parses(file));
  PutU32(file, 18, 0x40000000);
  PutU32(file, 22, 4);
  EXPECT_FALSE(Parses(file));
}

TEST(ShadowBitmapTest, RejectsFormatsTheDrawingCannotRead) {
  std::vector<uint8_t> file = Valid();
  file[0] = 'M';
  file[1] = 'B';
  EXPECT_FALSE(Parses(file));

  // 24 bits per pixel with data sized for it: 6 × 3 = 18 bytes a row.
  file = MakeBitmapFile(6, 5, [](int, int) { return 0xFF000000u; });
  file.resize(54 + 18 * 5);
  PutU32(file, 2, static_cast<uint32_t>(file.size()));
  PutU16(file, 28, 24);
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU16(file, 28, 16);
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 30, 3);  // bit fields
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU16(file, 26, 2);  // planes
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 14, 12);  // an old core header
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 22, static_cast<uint32_t>(-5));  // top-down rows
  EXPECT_FALSE(Parses(file));

  file = Valid();
  PutU32(file, 18, 0);
  PutU32(file, 22, 0);
  file.resize(54);
  PutU32(file, 2, 54);
  EXPECT_FALSE(Parses(file));
}

TEST(ShadowBitmapTest, AcceptsALongerInformationHeaderAndAGapBeforeThePixels) {
  // A 108-byte information header, then the rows: a valid file written by
  // other tools; the rows are located through the pixel-data offset.
  std::vector<uint8_t> file = Valid(2, 2);
  file.insert(file.begin() + 54, 68, 0);
  PutU32(file, 2, static_cast<uint32_t>(file.size()));
  PutU32(file, 10, 54 + 68);
  PutU32(file, 14, 108);
  ShadowBitmap bitmap;
  ASSERT_TRUE(ParseBitampBits(file.size(), file.data(), bitmap));
  EXPECT_EQ(bitmap.Pixel(1, 1), PremultiplyPixel(0x80010001u));
}

TEST(ShadowBitmapTest, RejectedFileIsNotModified) {
  std::vector<uint8_t> file = Valid();
  file.push_back(0);
  const std::vector<uint8_t> before = file;
  ShadowBitmap bitmap;
  EXPECT_FALSE(ParseBitampBits(file.size(), file.data(), bitmap));
  EXPECT_EQ(file, before);
}

}  // namespace
}  // namespace vesk
