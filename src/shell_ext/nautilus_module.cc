// The Nautilus extension module: one context-menu item for selected local
// files that hands them to the program. GLib and the extension API only;
// Nautilus runs its own GTK, which must never meet ours.
// The header declares the module entry points without C linkage; GLib's
// own headers come first, as they hold C++ templates.
#include <gio/gio.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <memory>
#include <string>
#include <vector>

#include "program_record.h"
#include "upload_entry.h"
#include "vesk/core/guarded.h"

namespace vesk::shell_ext {
namespace {

constexpr char kItemName[] = "PelicardUploadMenuProvider::Upload";

GType g_provider_type = 0;

// The local, non-directory files of the selection, in the order Nautilus
// lists them. Files of other locations (network shares, trash) take no part.
std::vector<std::string> LocalFiles(GList* files) {
  std::vector<std::string> paths;
  for (GList* node = files; node; node = node->next) {
    auto* file = static_cast<NautilusFileInfo*>(node->data);
    if (!NAUTILUS_IS_FILE_INFO(file) || nautilus_file_info_is_directory(file)) continue;
    g_autofree gchar* uri = nautilus_file_info_get_uri(file);
    g_autofree gchar* host = nullptr;
    g_autofree gchar* path = uri ? g_filename_from_uri(uri, &host, nullptr) : nullptr;
    if (path && (!host || g_strcmp0(host, "localhost") == 0)) paths.emplace_back(path);
  }
  return paths;
}

void OnActivate(NautilusMenuItem*, gpointer data) {
  Guarded("upload menu item activate", [data] {
    const auto& paths = *static_cast<const std::vector<std::string>*>(data);
    const std::string program_dir = ReadProgramRecord(ProgramRecordPathBesideThisModule()).value_or("");
    const UploadOutcome outcome = StartUpload(program_dir, paths, ErrorDisplay::kAsync);
    if (outcome.kind != UploadOutcome::Kind::kStarted)
      g_warning("pelicard upload: %s", outcome.error.c_str());
  });
}

void DeletePaths(gpointer data, GClosure*) { delete static_cast<std::vector<std::string>*>(data); }

GList* GetFileItems(NautilusMenuProvider*, GList* files) {
  return Guarded(
      "upload menu get_file_items",
      [files]() -> GList* {
        if (UploadEntryHidden()) return nullptr;
        auto paths = std::make_unique<std::vector<std::string>>(LocalFiles(files));
        if (paths->empty()) return nullptr;
        NautilusMenuItem* item = nautilus_menu_item_new(kItemName, kMenuLabel, kMenuTip, kIconName);
        g_signal_connect_data(item, "activate", G_CALLBACK(OnActivate), paths.release(), DeletePaths,
                              GConnectFlags(0));
        return g_list_append(nullptr, item);
      },
      nullptr);
}

void InitMenuProvider(gpointer iface, gpointer) {
  static_cast<NautilusMenuProviderInterface*>(iface)->get_file_items = GetFileItems;
}

void RegisterProviderType(GTypeModule* module) {
  static const GTypeInfo info = {
      sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr, sizeof(GObject), 0, nullptr, nullptr,
  };
  g_provider_type =
      g_type_module_register_type(module, G_TYPE_OBJECT, "PelicardUploadMenuProvider", &info, GTypeFlags(0));
  static const GInterfaceInfo provider = {InitMenuProvider, nullptr, nullptr};
  g_type_module_add_interface(module, g_provider_type, NAUTILUS_TYPE_MENU_PROVIDER, &provider);
}

}  // namespace
}  // namespace vesk::shell_ext

extern "C" {

#define VESK_MODULE_EXPORT __attribute__((visibility("default")))

VESK_MODULE_EXPORT void nautilus_module_initialize(GTypeModule* module) {
  vesk::Guarded("nautilus_module_initialize", [module] { vesk::shell_ext::RegisterProviderType(module); });
}

VESK_MODULE_EXPORT void nautilus_module_shutdown(void) {}

VESK_MODULE_EXPORT void nautilus_module_list_types(const GType** types, int* num_types) {
  vesk::Guarded("nautilus_module_list_types", [types, num_types] {
    *types = &vesk::shell_ext::g_provider_type;
    *num_types = vesk::shell_ext::g_provider_type ? 1 : 0;
  });
}

}  // extern "C"
