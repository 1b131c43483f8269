#include "vesk/core/security/byte_string.h"

#include <cstdint>

namespace vesk::security {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one sequence at |in[i]|; returns the code point and advances |i|.
// Malformed input yields U+FFFD and consumes one byte, so decoding always
// makes progress.
uint32_t DecodeOne(std::string_view in, size_t* i) {
  const auto lead = static_cast<unsigned char>(in[*i]);
  const size_t left = in.size() - *i;
  auto at = [&](size_t k) { return static_cast<unsigned char>(in[*i + k]); };
  if (lead < 0x80) {
    *i += 1;
    return lead;
  }
  if (lead >= 0xC2 && lead <= 0xDF && left >= 2 && IsContinuation(at(1))) {
    const uint32_t cp = (static_cast<uint32_t>(lead & 0x1F) << 6) | (at(1) & 0x3F);
    *i += 2;
    return cp;
  }
  if (lead >= 0xE0 && lead <= 0xEF && left >= 3 && IsContinuation(at(1)) && IsContinuation(at(2))) {
    const uint32_t cp = (static_cast<uint32_t>(lead & 0x0F) << 12) |
                        (static_cast<uint32_t>(at(1) & 0x3F) << 6) | (at(2) & 0x3F);
    // Overlong forms are no character; lone surrogates are kept as units.
    if (cp >= 0x800) {
      *i += 3;
      return cp;
    }
  }
  if (lead >= 0xF0 && lead <= 0xF4 && left >= 4 && IsContinuation(at(1)) && IsContinuation(at(2)) &&
      IsContinuation(at(3))) {
    const uint32_t cp = (static_cast<uint32_t>(lead & 0x07) << 18) |
                        (static_cast<uint32_t>(at(1) & 0x3F) << 12) |
                        (static_cast<uint32_t>(at(2) & 0x3F) << 6) | (at(3) & 0x3F);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      *i += 4;
      return cp;
    }
  }
  *i += 1;
  return 0xFFFD;
}

}  // namespace

ByteStringResult ByteStringFromUtf8(std::string_view utf8) {
  ByteStringResult result;
  // Never more units than input bytes (a four-byte sequence gives two).
  result.bytes.resize(utf8.size());
  char* out = result.bytes.data();
  size_t count = 0;
  auto push_unit = [&](uint32_t unit) {
    if (unit > 0xFF && result.wide_units++ == 0) result.first_wide_index = count;
    if ((unit & 0xFF00) == 0xF700) ++result.private_range_units;
    out[count++] = static_cast<char>(unit & 0xFF);
  };
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    // The common cases first: ASCII, and U+0080..U+00FF (C2/C3 lead bytes),
    // which is every other byte value of a byte string.
    const unsigned char c = in[i];
    if (c < 0x80) {
      out[count++] = static_cast<char>(c);
      ++i;
      continue;
    }
    if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() && IsContinuation(in[i + 1])) {
      out[count++] = static_cast<char>(((c & 0x03) << 6) | (in[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    const uint32_t cp = DecodeOne(utf8, &i);
    if (cp >= 0x10000) {
      const uint32_t v = cp - 0x10000;
      push_unit(0xD800 | (v >> 10));
      push_unit(0xDC00 | (v & 0x3FF));
    } else {
      push_unit(cp);
    }
  }
  result.bytes.resize(count);
  return result;
}

std::string ByteStringToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

}  // namespace vesk::security
