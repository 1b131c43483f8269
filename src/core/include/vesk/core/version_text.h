// The application's version.dat text as the page's version object shows it.
#pragma once

#include <string>

namespace vesk {

struct VersionParts {
  std::string major = "unknown";
  std::string minor = "unknown";
  // The text did not have exactly two dot-separated parts (a warning).
  bool warn = false;
};

// |text| null: the file could not be read. Surrounding white space is
// ignored; further parts after the second are ignored.
VersionParts ParseVersionText(const std::string* text);

std::string TrimWhitespace(const std::string& text);

}  // namespace vesk
