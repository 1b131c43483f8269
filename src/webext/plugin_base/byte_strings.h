// Script strings that carry raw bytes (one byte per UTF-16 code unit), both
// ways; see vesk/core/security/byte_string.h.
#pragma once

#include <jsc/jsc.h>

#include <optional>
#include <string>
#include <string_view>

#include "plugin_base/value_ref.h"

namespace plugin {

// Byte i = the low 8 bits of code unit i of |value|'s string. A code unit
// above 0xFF is a caller error that debug checks report (once per string).
std::string ByteStringFromValue(JSCValue* value);
// A new string value whose code unit i is byte i.
ValueRef NewByteStringValue(JSCContext* context, std::string_view bytes);

// Binary data a page may hand over instead of a byte string: an ArrayBuffer
// or a typed array (the bytes of its own view). Nothing when |value| is
// neither. The view points into the engine's memory without a copy: it is
// valid only until the page's script runs again, so use or copy it at once.
std::optional<std::string_view> BinaryDataOf(JSCValue* value);
inline bool IsBinaryData(JSCValue* value) { return BinaryDataOf(value).has_value(); }
// A byte string or binary data (see above), as bytes.
bool IsBytes(JSCValue* value);
std::string BytesFromValue(JSCValue* value);

}  // namespace plugin
