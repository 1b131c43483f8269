// The running instance's user interface: the display, the engine, the page
// channel, the main window and the main loop. Lives in the user-interface
// module, which libframework.so loads only in the running instance.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dev_reload.h"
#include "vesk/core/cross_origin_whitelist.h"

namespace vesk {

class BrowserHost;

struct EngineSettings;
using UiSettings = EngineSettings;

class UiApp {
 public:
  static UiApp& Get();

  // False when the display cannot be opened.
  bool Initialize(const UiSettings& settings);
  // Shows the application and returns when it has ended.
  bool Run(const std::string& start_url);
  // The same clean-up as after the main loop, for a start that shows no
  // window at all (an installer was started).
  void ShutDown() { CleanUpAfterLoop(); }

  void SetCrossOriginEntries(std::vector<CrossOriginEntry> entries) {
    cross_origin_entries_ = std::move(entries);
  }
  const std::vector<CrossOriginEntry>& cross_origin_entries() const { return cross_origin_entries_; }
  // The plugin allow-list the web extension applies, already resolved.
  void set_plugin_origins(std::vector<std::string> origins) { plugin_origins_ = std::move(origins); }
  const std::vector<std::string>& plugin_origins() const { return plugin_origins_; }
  // For the tray, which re-adds its icon when the panel restarts.
  unsigned taskbar_message() const { return taskbar_message_; }

  // The main window was destroyed; the application goes on (other windows,
  // or app.exit, end it).
  void OnMainWindowDestroyed();
  // No host window is left: nothing could ever end the application again,
  // so the main loop ends (once no system dialog is open).
  void OnLastWindowDestroyed();
  // The main window, or null before Run and after it is gone.
  BrowserHost* main_window() const { return main_window_; }

 private:
  UiApp() = default;
  bool InitializeDisplay();
  void CreateMainWindow(const std::string& start_url);
  void StartDevReload();
  void CleanUpAfterLoop();
  static int OnTerminationSignal(void* self);

  BrowserHost* main_window_ = nullptr;
  std::unique_ptr<DevReloadWatcher> dev_reload_;
  bool running_ = false;
  unsigned taskbar_message_ = 0;
  std::vector<CrossOriginEntry> cross_origin_entries_;
  std::vector<std::string> plugin_origins_;
};

}  // namespace vesk
