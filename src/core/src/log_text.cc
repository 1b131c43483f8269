#include "vesk/core/log_text.h"

#include <cstdio>

namespace vesk::logging {
namespace {

void AppendByteEscape(unsigned char byte, std::string* out) {
  char buffer[5];
  std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
  *out += buffer;
}

void AppendCodePointEscape(uint32_t code_point, std::string* out) {
  char buffer[7];
  std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(code_point));
  *out += buffer;
}

// Length of the well-formed UTF-8 sequence at the start of |text| (RFC 3629:
// no overlong forms, no surrogates, nothing past U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text, uint32_t* code_point) {
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length;
  uint32_t value;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    value = value << 6 | (next & 0x3F);
  }
  *code_point = value;
  return length;
}

bool IsEscapedCodePoint(uint32_t code_point) {
  return (code_point >= 0x80 && code_point <= 0x9F) || code_point == 0x2028 || code_point == 0x2029;
}

}  // namespace

std::string EscapeLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
      if (lead == '\n') {
        out += "\\n";
      } else if (lead == '\r') {
        out += "\\r";
      } else if ((lead < 0x20 && lead != '\t') || lead == 0x7F) {
        AppendByteEscape(lead, &out);
      } else {
        out += static_cast<char>(lead);
      }
      text.remove_prefix(1);
      continue;
    }
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceLength(text, &code_point);
    if (length == 0) {
      AppendByteEscape(lead, &out);
      text.remove_prefix(1);
    } else {
      if (IsEscapedCodePoint(code_point))
        AppendCodePointEscape(code_point, &out);
      else
        out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

bool LogRateLimiter::Allow(Clock::time_point now, uint64_t* suppressed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (now - window_start_ >= interval_ || now < window_start_) {
    window_start_ = now;
    used_ = 0;
  }
  if (used_ >= burst_) {
    ++suppressed_;
    return false;
  }
  ++used_;
  *suppressed = suppressed_;
  suppressed_ = 0;
  return true;
}

std::string SuppressedNote(uint64_t suppressed) {
  if (suppressed == 0) return std::string();
  std::string note(1, '(');
  note += std::to_string(suppressed);
  note += " similar lines suppressed) ";
  return note;
}

}  // namespace vesk::logging
