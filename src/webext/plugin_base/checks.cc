#include "plugin_base/checks.h"

namespace plugin {

void DefineReadOnly(JSCValue* object, const char* name, JSCValue* value) {
  jsc_value_object_define_property_data(object, name, JSC_VALUE_PROPERTY_ENUMERABLE, value);
}

ValueRef NewRectangleValue(JSCContext* context, int left, int top, int right, int bottom) {
  ValueRef rect(jsc_value_new_object(context, nullptr, nullptr));
  const std::pair<const char*, int> members[] = {
      {"x", left}, {"y", top}, {"width", right - left}, {"height", bottom - top}};
  for (const auto& [name, number] : members) {
    ValueRef value(jsc_value_new_number(context, number));
    DefineReadOnly(rect.get(), name, value.get());
  }
  return rect;
}

}  // namespace plugin
