// Text from a page or another process on its way into the log: control
// characters become "\xNN", so such text cannot end a line early or forge
// one.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vesk {

inline std::string EscapeForLog(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", byte);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace vesk
