// The four exported entry points. Nothing thrown below may cross them.
#include <string>
#include <vector>

#include "app/vesk_app.h"
#include "vesk/core/command_line.h"
#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/start_url.h"
#include "vesk/core/state_directories.h"
#include "vesk/core/upload_request.h"
#include "vesk/framework_api.h"

namespace {

template <typename Fn>
bool GuardedExport(const char* name, Fn&& fn) noexcept {
  return vesk::Guarded(name, std::forward<Fn>(fn), false);
}

std::vector<std::string> ToStrings(const char* const* texts, int count) {
  std::vector<std::string> result;
  for (int i = 0; texts && i < count; ++i)
    if (texts[i]) result.emplace_back(texts[i]);
  return result;
}

std::string Text(const char* text) { return text ? text : ""; }

bool Initialize(const VeskInitParams* params) {
  vesk::VeskApp& app = vesk::VeskApp::Get();
  // 1. A second call has no effect.
  if (app.was_initialized()) return true;
  if (!params || !params->start_url) return false;
  // Where the program writes: the directories asked for while the program
  // directory is writable, the user's own places when it is not.
  const vesk::StateDirectories state = vesk::ResolveStateDirectories(
      {Text(params->local_storage_path), Text(params->cache_path), Text(params->log_dir)});
  vesk::CreateStateDirectories(state);
  app.SetStateDirectories(state);
  // 2. Engine settings.
  vesk::EngineSettings settings;
  settings.cache_path = state.cache_dir;
  if (params->user_agent) settings.user_agent = params->user_agent;
  settings.local_storage_path = state.data_dir;
  app.SetEngineSettings(settings);
  // 3. Before Initialize.
  if (params->log_dir || state.per_user) app.SetLogDirectory(state.log_dir);
  // 4. Logging, single instance, engine.
  if (!app.Initialize()) return false;
  // 5. One vesk:// host per application; does not decide the result.
  if (params->app_names) app.RegisterApplications(params->app_names, params->app_name_count);
  // 6. The local-storage directory went to the engine with the settings.
  // 7. Every application package must be present and intact.
  if (!app.CheckPackages()) return false;
  // 8. The start URL.
  const vesk::StartUrlDecision decision =
      vesk::ComposeStartUrl(params->start_url, vesk::CommandLine::ForCurrentProcess());
  if (decision.exit_process) return false;
  if (decision.load_upload_request) vesk::LoadUploadRequest(decision.upload_value);
  app.set_start_url(decision.url);
  // 9.
  return true;
}

}  // namespace

extern "C" bool VeskInitialize(const VeskInitParams* params) {
  return GuardedExport("VeskInitialize", [params] { return Initialize(params); });
}

extern "C" bool VeskInstallCrossOriginWhiteList(const char* const* source_origins, int source_count,
                                                const char* const* target_origins, int target_count) {
  return GuardedExport("VeskInstallCrossOriginWhiteList", [&] {
    vesk::VeskApp& app = vesk::VeskApp::Get();
    if (!app.was_initialized()) return false;
    app.SetCrossOriginEntries(vesk::BuildCrossOriginEntries(ToStrings(source_origins, source_count),
                                                            ToStrings(target_origins, target_count)));
    return true;
  });
}

bool VeskInstallPluginOriginWhiteList(char* const* origins, int count) {
  return GuardedExport("VeskInstallPluginOriginWhiteList", [&] {
    vesk::VeskApp& app = vesk::VeskApp::Get();
    if (!app.was_initialized()) return false;
    app.SetPluginOrigins(ToStrings(origins, count));
    return true;
  });
}

extern "C" bool VeskRun() {
  return GuardedExport("VeskRun", [] {
    vesk::VeskApp& app = vesk::VeskApp::Get();
    if (!app.was_initialized()) return false;
    return app.Run();
  });
}
