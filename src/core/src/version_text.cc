#include "vesk/core/version_text.h"

#include <vector>

namespace vesk {

std::string TrimWhitespace(const std::string& text) {
  const char* spaces = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(spaces);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

VersionParts ParseVersionText(const std::string* text) {
  VersionParts parts;
  if (!text) return parts;
  const std::string trimmed = TrimWhitespace(*text);
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t dot = trimmed.find('.', start);
    pieces.push_back(trimmed.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  parts.warn = pieces.size() != 2;
  parts.major = pieces[0];
  parts.minor = pieces.size() >= 2 ? pieces[1] : std::string();
  return parts;
}

}  // namespace vesk
