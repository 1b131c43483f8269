#include "plugin_base/value_format.h"

namespace plugin {

std::string ValueToString(JSCValue* value, int depth) {
  if (!value) return "undefined";
  if (jsc_value_is_function(value)) return "[function Function]";
  if (jsc_value_is_array(value)) return "[array Array]";
  if (jsc_value_is_object(value)) {
    std::string text(1, '(');
    text.append(MembersToString(value, depth + 1));
    text.push_back(')');
    return text;
  }
  g_autofree gchar* text = jsc_value_to_string(value);
  return text ? text : "";
}

std::string MembersToString(JSCValue* value, int depth) {
  if (depth > 3) return "[object Object]";
  g_auto(GStrv) keys = jsc_value_object_enumerate_properties(value);
  if (!keys) return "";
  std::string result;
  for (gchar** key = keys; *key; ++key) {
    if (key != keys) result += ", ";
    result += *key;
    result += ":";
    g_autoptr(JSCValue) member = jsc_value_object_get_property(value, *key);
    result += ValueToString(member, depth);
  }
  return result;
}

std::string ArgumentsToString(const Arguments& arguments) {
  std::string result;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) result += ", ";
    result += ValueToString(arguments[i], 0);
  }
  return result;
}

}  // namespace plugin
