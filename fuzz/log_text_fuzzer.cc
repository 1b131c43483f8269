// Console text, instance-message text and URLs that a page or another
// process puts into the log. The escaped form must hold no line break, no
// control character but tab, and be well-formed UTF-8; text that needs no
// escaping must come back unchanged.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "vesk/core/browser/console_message.h"
#include "vesk/core/log_text.h"

namespace {

bool NeedsNoEscape(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
  for (const gchar* p = text.data(); p < text.data() + text.size(); p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string escaped = vesk::logging::EscapeLogText(text);
  if (!g_utf8_validate(escaped.data(), static_cast<gssize>(escaped.size()), nullptr)) __builtin_trap();
  if (!NeedsNoEscape(escaped)) __builtin_trap();
  if (NeedsNoEscape(text) && escaped != text) __builtin_trap();
  const std::string console = vesk::FormatConsoleMessage(text, 1, text);
  (void)console;
  return 0;
}
