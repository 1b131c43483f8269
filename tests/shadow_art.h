// The window shadow's margins, read from the artwork the program is built
// with (VESK_SHADOW_ARTWORK_DIR), so no test repeats them as numbers: the
// left and right margins are the widths of the left and right pieces, the
// top and bottom margins the heights of the top and bottom pieces. Read from
// the bitmap headers directly, not through the code under test.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "vesk/core/shadow/shadow_geometry.h"

namespace vesk::testing {

// (width, height) of a piece, from its bitmap information header; (0, 0)
// when the file cannot be read.
inline std::pair<int, int> ArtworkPieceSize(const std::string& name) {
  std::ifstream file(std::string(VESK_SHADOW_ARTWORK_DIR) + "/" + name + ".bmp", std::ios::binary);
  unsigned char header[26] = {};
  if (!file.read(reinterpret_cast<char*>(header), sizeof header) || header[0] != 'B' || header[1] != 'M')
    return {0, 0};
  auto le32 = [&](int at) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(header[at]) | static_cast<uint32_t>(header[at + 1]) << 8 |
        static_cast<uint32_t>(header[at + 2]) << 16 | static_cast<uint32_t>(header[at + 3]) << 24);
  };
  return {le32(18), std::abs(le32(22))};
}

inline ShadowMargins ArtworkMargins() {
  return ShadowMargins{ArtworkPieceSize("left").first, ArtworkPieceSize("top").second,
                       ArtworkPieceSize("right").first, ArtworkPieceSize("bottom").second};
}

// The shadow's screen rectangle around a host at |host|.
inline ShadowRect ArtworkShadowAround(const ShadowRect& host) {
  const ShadowMargins m = ArtworkMargins();
  return ShadowRect{host.x - m.left, host.y - m.top, host.width + m.left + m.right,
                    host.height + m.top + m.bottom};
}

}  // namespace vesk::testing
