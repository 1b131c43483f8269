// Byte strings: script strings that carry raw bytes, one byte per UTF-16
// code unit. The engine hands strings over as UTF-8, so the conversions
// here go between that UTF-8 text and the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::security {

struct ByteStringResult {
  std::string bytes;
  // The first code unit above 0xFF (a caller error; its low byte was used),
  // and how many there were.
  size_t wide_units = 0;
  size_t first_wide_index = 0;
  // How many of the wide units lie in 0xF700-0xF7FF: what the x-user-defined
  // text decoding makes of the bytes 0x80-0xFF, which the update package
  // object accepts as those bytes.
  size_t private_range_units = 0;
};

// Byte i is the low 8 bits of UTF-16 code unit i of the text. Characters
// outside the BMP count as their two surrogate units; surrogates the engine
// wrote on their own (three-byte form) are taken as they are; bytes that are
// no UTF-8 at all count as U+FFFD.
ByteStringResult ByteStringFromUtf8(std::string_view utf8);

// Byte b becomes the character U+00bb, written as UTF-8.
std::string ByteStringToUtf8(std::string_view bytes);

}  // namespace vesk::security
