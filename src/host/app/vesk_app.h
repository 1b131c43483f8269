// The process-wide application object: command line, log file, the
// single-instance rule and the instance receiver. Once this process is known
// to be the running instance it loads the user-interface module, which owns
// the engine, the windows and the main loop. The exports are thin shells
// around it. Nothing here uses GTK or WebKit.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/engine_settings.h"
#include "vesk/core/plugin_origins.h"
#include "vesk/core/single_instance_lock.h"
#include "vesk/core/state_directories.h"
#include "vesk/ui_module.h"

namespace vesk {

class VeskAppTraceThread;

class VeskApp {
 public:
  // Created on first use, never replaced. Main thread only after creation.
  static VeskApp& Get();

  bool was_initialized() const { return initialized_; }

  // Before Initialize only; a later call is a programming error (debug check).
  void SetLogDirectory(std::string log_dir);
  const std::string& log_directory() const { return log_dir_; }
  void SetEngineSettings(EngineSettings settings);
  // Where the program writes; the running instance says it in the log when
  // that is not the program directory.
  void SetStateDirectories(StateDirectories dirs) { state_dirs_ = std::move(dirs); }
  const StateDirectories& state_directories() const { return state_dirs_; }

  // True in the process that became the running instance.
  bool Initialize();
  // Registers one vesk:// host per name; keeps the caller's array when all
  // registrations succeed.
  void RegisterApplications(const char* const* names, int count);
  // False when a package is missing or damaged (the user has been told).
  bool CheckPackages();
  // Shows the application and returns when it has ended. Always true.
  bool Run();

  void set_start_url(std::string url) { start_url_ = std::move(url); }
  const std::string& start_url() const { return start_url_; }
  std::vector<std::string> application_names() const;

  void SetCrossOriginEntries(const std::vector<CrossOriginEntry>& entries);
  // The frames that get the script objects; without a call, the
  // application's own origins (decided when Run starts).
  void SetPluginOrigins(const std::vector<std::string>& entries);

 private:
  VeskApp();
  ~VeskApp() = default;

  void InitLogging();
  void RunSecondInstance();
  bool LoadUserInterface();
  void StartMemoryTrace();
  void HandPluginOriginsToUi();

  bool initialized_ = false;
  const char* const* app_names_ = nullptr;
  int app_name_count_ = 0;
  std::string start_url_;
  std::vector<CrossOriginEntry> cross_origin_entries_;
  std::optional<PluginOriginList> plugin_origins_;
  std::string log_dir_;
  bool log_dir_locked_ = false;
  EngineSettings engine_settings_;
  StateDirectories state_dirs_;
  std::unique_ptr<VeskAppTraceThread> trace_thread_;
  SingleInstanceLock instance_lock_;
  const VeskUiModule* ui_ = nullptr;
};

}  // namespace vesk
