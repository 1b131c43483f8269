#include "plugins/app_update.h"

#include "extension_state.h"
#include "plugin_base/checks.h"
#include "vesk/core/update/update_flags.h"

namespace plugin {
namespace {

constexpr char kNamesMessage[] = "arguments should be a string or string-array";

// The string's UTF-8 with its length: a name may hold NUL characters,
// which then reach the checks instead of cutting the name short.
std::string Utf8Of(JSCValue* value) {
  g_autoptr(GBytes) text = jsc_value_to_string_as_bytes(value);
  gsize size = 0;
  const auto* data = text ? static_cast<const char*>(g_bytes_get_data(text, &size)) : nullptr;
  return std::string(data ? data : "", data ? size : 0);
}

// The names of a string or an array of strings; false (with the message
// thrown) at the first element that is no string, or when there is none.
bool PackageNames(Call& call, std::vector<std::string>* names) {
  JSCValue* value = call[0];
  if (IsString(value)) {
    names->push_back(Utf8Of(value));
  } else if (IsArray(value)) {
    const ValueRef length(jsc_value_object_get_property(value, "length"));
    const double count = length ? jsc_value_to_double(length.get()) : 0;
    for (guint i = 0; i < count; ++i) {
      const ValueRef element(jsc_value_object_get_property_at_index(value, i));
      if (!IsString(element.get())) break;
      names->push_back(Utf8Of(element.get()));
    }
    if (names->size() != count) names->clear();
  }
  if (names->empty()) {
    call.Throw(kNamesMessage);
    return false;
  }
  return true;
}

}  // namespace

void UpdateWhenRestart(App&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  vesk::update::SetUpdateFlag(ExtensionState::Get().program_dir, Utf8Of(call[0]));  // result ignored
}

void UpdateQbunsWhenRestart(App&, Call& call) {
  std::vector<std::string> names;
  if (!call.ExpectCount(1) || !PackageNames(call, &names)) return;
  vesk::update::SetQbunUpdateFlag(ExtensionState::Get().program_dir, names);  // result ignored
}

}  // namespace plugin
