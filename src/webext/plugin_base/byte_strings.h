// Script strings that carry raw bytes (one byte per UTF-16 code unit), both
// ways; see vesk/core/security/byte_string.h.
#pragma once

#include <jsc/jsc.h>

#include <string>
#include <string_view>

#include "plugin_base/value_ref.h"

namespace plugin {

// Byte i = the low 8 bits of code unit i of |value|'s string. A code unit
// above 0xFF is a caller error that debug checks report (once per string).
std::string ByteStringFromValue(JSCValue* value);
// A new string value whose code unit i is byte i.
ValueRef NewByteStringValue(JSCContext* context, std::string_view bytes);

}  // namespace plugin
