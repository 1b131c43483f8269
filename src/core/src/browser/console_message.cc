#include "vesk/core/browser/console_message.h"

#include "vesk/core/log_text.h"

namespace vesk {

std::string ConsoleSourceName(std::string_view source_url) {
  const size_t query = source_url.find('?');
  const std::string_view path = source_url.substr(0, query);
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FormatConsoleMessage(std::string_view source_url, int line, std::string_view message) {
  // Page text, escaped whole (also a line feed at its end): a page may not
  // start a log line of its own.
  std::string text = "[CONSOLE:" + logging::EscapeLogText(ConsoleSourceName(source_url)) + "(" +
                     std::to_string(line) + ")] ";
  text += logging::EscapeLogText(message);
  return text;
}

}  // namespace vesk
