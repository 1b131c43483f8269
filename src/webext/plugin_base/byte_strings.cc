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

std::optional<std::string_view> BinaryDataOf(JSCValue* value) {
  if (!value) return std::nullopt;
  if (jsc_value_is_typed_array(value)) {
    const gsize size = jsc_value_typed_array_get_size(value);
    const auto* data = static_cast<const char*>(jsc_value_typed_array_get_data(value, nullptr));
    return data ? std::string_view(data, size) : std::string_view();
  }
  if (jsc_value_is_array_buffer(value)) {
    gsize size = 0;
    const auto* data = static_cast<const char*>(jsc_value_array_buffer_get_data(value, &size));
    return data ? std::string_view(data, size) : std::string_view();
  }
  return std::nullopt;
}

bool IsBytes(JSCValue* value) { return value && (jsc_value_is_string(value) || IsBinaryData(value)); }

std::string BytesFromValue(JSCValue* value) {
  if (const auto binary = BinaryDataOf(value)) return std::string(*binary);
  return ByteStringFromValue(value);
}

}  // namespace plugin
