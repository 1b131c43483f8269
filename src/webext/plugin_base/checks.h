// Tests and conversions of script values shared by the script members.
#pragma once

#include <jsc/jsc.h>

#include <cmath>
#include <string>

#include "plugin_base/js_object.h"
#include "plugin_base/value_ref.h"

namespace plugin {

inline bool IsString(JSCValue* value) { return value && jsc_value_is_string(value); }
inline bool IsObject(JSCValue* value) { return value && jsc_value_is_object(value); }
inline bool IsFunction(JSCValue* value) { return value && jsc_value_is_function(value); }
inline bool IsArray(JSCValue* value) { return value && jsc_value_is_array(value); }
inline bool IsBool(JSCValue* value) { return value && jsc_value_is_boolean(value); }
inline bool IsNumber(JSCValue* value) { return value && jsc_value_is_number(value); }
inline bool IsUndefined(JSCValue* value) { return !value || jsc_value_is_undefined(value); }

// A number with a whole value within 32 bits (the engine's "is int").
inline bool IsInt(JSCValue* value) {
  if (!IsNumber(value)) return false;
  const double number = jsc_value_to_double(value);
  return std::isfinite(number) && std::trunc(number) == number && number >= -2147483648.0 &&
         number <= 2147483647.0;
}

inline std::string ToStdString(JSCValue* value) {
  g_autofree gchar* text = value ? jsc_value_to_string(value) : nullptr;
  return text ? text : "";
}

// A member of an object, or empty when |object| is not an object.
inline ValueRef Member(JSCValue* object, const char* name) {
  return ValueRef(object && jsc_value_is_object(object) ? jsc_value_object_get_property(object, name)
                                                        : nullptr);
}

// A new plain object with read-only integer x, y, width and height.
ValueRef NewRectangleValue(JSCContext* context, int left, int top, int right, int bottom);
// Defines a read-only data property.
void DefineReadOnly(JSCValue* object, const char* name, JSCValue* value);

}  // namespace plugin
