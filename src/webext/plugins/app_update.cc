#include "plugins/app_update.h"

#include <sys/stat.h>

#include "extension_state.h"
#include "plugin_base/checks.h"
#include "plugins/update_package.h"
#include "vesk/core/file_util.h"
#include "vesk/core/state_directories.h"
#include "vesk/core/update/update_flags.h"
#include "vesk/core/update/update_location.h"

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

void NewUpdatePackage(App&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const std::string& program_dir = ExtensionState::Get().program_dir;
  const std::string update_dir = vesk::update::UpdateDirectory(program_dir);
  // In an installation the package manager owns, nothing is created: the
  // object's appends then fail through their callbacks.
  const bool allowed = vesk::UpdatesAllowed(program_dir);
  if (allowed && !update_dir.empty() && !vesk::IsDirectory(update_dir)) ::mkdir(update_dir.c_str(), 0755);
  // The name comes from the page: it must not lead out of the directory.
  std::string why;
  const auto path = vesk::update::ResolveUpdateEntry(update_dir, Utf8Of(call[0]), &why);
  if (!path) return call.Throw("Invalid UpdatePackage Name: " + why);
  call.Return(UpdatePackage::New(*path, allowed)->CreateOwnedObject(call.context()));
}

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
