#include "plugin_base/byte_strings.h"

#include "vesk/core/logging.h"
#include "vesk/core/security/byte_string.h"

namespace plugin {

std::string ByteStringFromValue(JSCValue* value) {
  // The engine hands strings out only as UTF-8; the units come back from it.
  g_autoptr(GBytes) text = jsc_value_to_string_as_bytes(value);
  if (!text) return {};
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(text, &size));
  auto result = vesk::security::ByteStringFromUtf8(std::string_view(data ? data : "", data ? size : 0));
  VESK_DCHECK_TEXT(!result.wide_units, "(uint8)(uint16)src[i] == src[i]");
  return std::move(result.bytes);
}

ValueRef NewByteStringValue(JSCContext* context, std::string_view bytes) {
  // Handed to the engine without another copy: strings here can be large.
  auto* utf8 = new std::string(vesk::security::ByteStringToUtf8(bytes));
  g_autoptr(GBytes) text = g_bytes_new_with_free_func(
      utf8->data(), utf8->size(), [](gpointer data) { delete static_cast<std::string*>(data); }, utf8);
  return ValueRef(jsc_value_new_string_from_bytes(context, text));
}

}  // namespace plugin
