// The shared argument checks and their exact messages.
#pragma once

#include <jsc/jsc.h>

#include <cmath>
#include <optional>
#include <string>

#include "plugin_base/js_object.h"

namespace plugin {

// "arguments should have N object(s)"; false when the count is wrong.
inline bool CheckCount(const Arguments& arguments, size_t count, std::string* exception) {
  if (arguments.size() == count) return true;
  *exception = "arguments should have " + std::to_string(count) + " object(s)";
  return false;
}

inline bool CheckMinimumCount(const Arguments& arguments, size_t count, std::string* exception) {
  if (arguments.size() >= count) return true;
  *exception = "arguments should have " + std::to_string(count) + " object(s) at least";
  return false;
}

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

// "arguments[<index>] should be <Type>"; false when the test fails.
inline bool CheckArgument(bool passes, int index, const char* type, std::string* exception) {
  if (passes) return true;
  *exception = "arguments[" + std::to_string(index) + "] should be " + type;
  return false;
}

inline std::string ToStdString(JSCValue* value) {
  gchar* text = value ? jsc_value_to_string(value) : nullptr;
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

// A member of an object, or null when absent (a new reference).
inline JSCValue* Member(JSCValue* object, const char* name) {
  return object && jsc_value_is_object(object) ? jsc_value_object_get_property(object, name) : nullptr;
}

// Owns one reference to a JSCValue.
class ValueRef {
 public:
  ValueRef() = default;
  explicit ValueRef(JSCValue* value) : value_(value) {}
  ~ValueRef() { reset(); }
  ValueRef(const ValueRef&) = delete;
  ValueRef& operator=(const ValueRef&) = delete;
  ValueRef(ValueRef&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }
  ValueRef& operator=(ValueRef&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.value_;
      other.value_ = nullptr;
    }
    return *this;
  }
  void reset(JSCValue* value = nullptr) {
    if (value_) g_object_unref(value_);
    value_ = value;
  }
  JSCValue* get() const { return value_; }
  // A new reference for handing out as a result.
  JSCValue* ref() const { return value_ ? JSC_VALUE(g_object_ref(value_)) : nullptr; }
  explicit operator bool() const { return value_ != nullptr; }

 private:
  JSCValue* value_ = nullptr;
};

// A new plain object with read-only integer x, y, width and height.
JSCValue* NewRectangleValue(JSCContext* context, int left, int top, int right, int bottom);
// Defines a read-only data property.
void DefineReadOnly(JSCValue* object, const char* name, JSCValue* value);

}  // namespace plugin
