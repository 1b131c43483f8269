// The user-interface module's one entry point. Nothing thrown below leaves
// the module.
#include "vesk/ui_module.h"

#include "engine.h"
#include "package_check.h"
#include "scheme/scheme_registry.h"
#include "ui_app.h"
#include "vesk/core/guarded.h"

namespace {

template <typename Fn>
bool Guarded(const char* name, Fn&& fn) noexcept {
  return vesk::Guarded(name, std::forward<Fn>(fn), false);
}

bool Initialize(const VeskUiSettings* settings) {
  return Guarded("initialize", [settings] {
    vesk::UiSettings copy;
    if (settings) {
      copy.cache_path = settings->cache_path ? settings->cache_path : "";
      copy.user_agent = settings->user_agent ? settings->user_agent : "";
      copy.local_storage_path = settings->local_storage_path ? settings->local_storage_path : "";
    }
    return vesk::UiApp::Get().Initialize(copy);
  });
}

bool RegisterSchemeHost(const char* scheme, const char* host) {
  return Guarded("register_scheme_host",
                 [scheme, host] { return scheme && host && vesk::RegisterSchemeHandler(scheme, host); });
}

bool CheckPackages(const char* const* names, int count) {
  return Guarded("check_packages", [names, count] {
    std::vector<std::string> list;
    for (int i = 0; names && i < count; ++i)
      if (names[i]) list.emplace_back(names[i]);
    return vesk::CheckApplicationPackages(list);
  });
}

void SetCrossOriginEntries(const VeskUiCrossOriginEntry* entries, int count) {
  Guarded("set_cross_origin_entries", [entries, count] {
    std::vector<vesk::CrossOriginEntry> list;
    for (int i = 0; entries && i < count; ++i)
      list.push_back({entries[i].source_origin ? entries[i].source_origin : "",
                      entries[i].target_protocol ? entries[i].target_protocol : "",
                      entries[i].target_domain ? entries[i].target_domain : "",
                      entries[i].allow_target_subdomains != 0});
    vesk::UiApp::Get().SetCrossOriginEntries(std::move(list));
    return true;
  });
}

bool Run(const char* start_url) {
  return Guarded("run", [start_url] { return vesk::UiApp::Get().Run(start_url ? start_url : ""); });
}

void ShutDown() {
  Guarded("shut_down", [] {
    vesk::UiApp::Get().ShutDown();
    return true;
  });
}

void SetPluginOrigins(const char* const* origins, int count) {
  Guarded("set_plugin_origins", [origins, count] {
    std::vector<std::string> list;
    for (int i = 0; origins && i < count; ++i)
      if (origins[i]) list.emplace_back(origins[i]);
    vesk::UiApp::Get().set_plugin_origins(std::move(list));
    return true;
  });
}

constexpr VeskUiModule kModule{VESK_UI_MODULE_VERSION, Initialize, RegisterSchemeHost, CheckPackages,
                               SetCrossOriginEntries,  Run,        ShutDown,           SetPluginOrigins};

}  // namespace

extern "C" __attribute__((visibility("default"))) const VeskUiModule* VeskUiModuleGet(void) {
  return &kModule;
}
