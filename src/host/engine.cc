#include "engine.h"

#include "channel/channel_server.h"
#include "proxy_settings.h"
#include "scheme/scheme_registry.h"
#include "ui_app.h"
#include "vesk/core/channel/page_messages.h"
#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"
#include "webkit_compat.h"

namespace vesk {

Engine& Engine::Get() {
  static Engine* engine = new Engine;
  return *engine;
}

void Engine::Initialize(const EngineSettings& settings) {
  settings_ = settings;
  initialized_ = true;
}

WebKitWebContext* Engine::context() {
  if (!context_) CreateContext();
  return context_;
}

WebKitSettings* Engine::settings() {
  if (!web_settings_) {
    web_settings_ = webkit_settings_new();
    if (!settings_.user_agent.empty())
      webkit_settings_set_user_agent(web_settings_, settings_.user_agent.c_str());
    // The engine keeps no log of its own; console output is ours to log.
    webkit_settings_set_enable_write_console_messages_to_stdout(web_settings_, FALSE);
    // The inspector exists only when asked for; without it F12 reaches the page.
    webkit_settings_set_enable_developer_extras(
        web_settings_, CommandLine::ForCurrentProcess().HasSwitch(switches::kEnableDevTools));
    webkit_settings_set_javascript_can_open_windows_automatically(web_settings_, TRUE);
  }
  return web_settings_;
}

void Engine::CreateContext() {
  VESK_VLOG(1) << "start-up: creating the web context";
  // The network process inherits the environment when the engine starts it.
  StartProxyResolution();
  const char* data_dir =
      settings_.local_storage_path.empty() ? nullptr : settings_.local_storage_path.c_str();
  const char* cache_dir = settings_.cache_path.empty() ? nullptr : settings_.cache_path.c_str();
  g_autoptr(WebKitWebsiteDataManager) manager =
      (data_dir || cache_dir) ? compat::NewDataManager(data_dir, cache_dir) : nullptr;
  context_ = manager ? webkit_web_context_new_with_website_data_manager(manager) : webkit_web_context_new();
  // The web extension reads packages and writes update files itself.
  compat::SetSandboxEnabled(context_, false);
  webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  // Credentials come from the page's proxy records only: the engine must not
  // look them up in (or offer them to) the desktop's keyring, whose unlock
  // prompt would be a dialog.
  webkit_website_data_manager_set_persistent_credential_storage_enabled(
      webkit_web_context_get_website_data_manager(context_), FALSE);
  InstallSchemeHandlers(context_);
  InstallWebExtension();
  VESK_VLOG(1) << "web context created";
}

void Engine::InstallWebExtension() {
  const std::string program_dir = ProgramDirectory();
  const std::string extension_dir =
      web_extension_directory_.empty() ? JoinPath(program_dir, "webext") : web_extension_directory_;
  webkit_web_context_set_web_extensions_directory(context_, extension_dir.c_str());
  // The extension reads no configuration of its own: the program directory,
  // the log file, the page channel, our switches and the running executable
  // (what an autostart entry starts) travel with it.
  channel::ExtensionInitData data;
  data.program_dir = program_dir;
  data.log_path = logging::LogFilePath();
  data.channel_socket = ChannelServer::Get().socket_path();
  data.channel_token = ChannelServer::Get().token();
  data.executable_path = ExecutablePath();
  data.plugin_origins = UiApp::Get().plugin_origins();
  data.cross_origin_entries = UiApp::Get().cross_origin_entries();
  for (const auto& [name, value] : CommandLine::ForCurrentProcess().switches())
    data.switches.push_back("--" + name + (value.empty() ? std::string() : "=" + value));
  webkit_web_context_set_web_extensions_initialization_user_data(context_,
                                                                 channel::EncodeExtensionInitData(data));
}

void Engine::Shutdown() {
  g_clear_object(&web_settings_);
  g_clear_object(&context_);
  initialized_ = false;
}

}  // namespace vesk
