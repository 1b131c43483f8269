#pragma once

#include <string>
#include <string_view>

namespace vesk {

// The file name of a script's source URL: the text after the last "/"
// before the first "?" (the whole text when there is no "/").
std::string ConsoleSourceName(std::string_view source_url);

// "[CONSOLE:<name>(<line>)] <message>"
std::string FormatConsoleMessage(std::string_view source_url, int line, std::string_view message);

}  // namespace vesk
