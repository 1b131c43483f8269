// The process-wide application object: command line, log file, the
// single-instance rule, the engine and, once running, the main window and the
// main loop. The exports are thin shells around it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/single_instance_lock.h"

namespace vesk {

class BrowserHost;
class VeskAppTraceThread;

struct EngineSettings {
  std::string cache_path;
  std::string user_agent;
  std::string local_storage_path;
};

class VeskApp {
 public:
  // Created on first use, never replaced. Main thread only after creation.
  static VeskApp& Get();

  bool was_initialized() const { return initialized_; }

  // Before Initialize only; a later call is a programming error (debug check).
  void SetLogDirectory(std::string log_dir);
  const std::string& log_directory() const { return log_dir_; }
  void SetEngineSettings(EngineSettings settings);

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
  unsigned taskbar_message() const { return taskbar_message_; }
  std::vector<std::string> application_names() const;

  void SetCrossOriginEntries(std::vector<CrossOriginEntry> entries);
  const std::vector<CrossOriginEntry>& cross_origin_entries() const { return cross_origin_entries_; }

  // The main window was destroyed: leave the main loop.
  void OnMainWindowDestroyed();
  // The main window, or null before Run and after it is gone.
  BrowserHost* main_window() const;

 private:
  VeskApp();
  ~VeskApp() = default;

  void InitLogging();
  bool InitializeDisplay();
  void RunSecondInstance();
  void StartMemoryTrace();
  void CreateMainWindow();
  void CleanUpAfterLoop();

  bool initialized_ = false;
  const char* const* app_names_ = nullptr;
  int app_name_count_ = 0;
  std::string start_url_;
  std::string log_dir_;
  bool log_dir_locked_ = false;
  EngineSettings engine_settings_;
  std::unique_ptr<VeskAppTraceThread> trace_thread_;
  unsigned taskbar_message_ = 0;
  SingleInstanceLock instance_lock_;
  std::vector<CrossOriginEntry> cross_origin_entries_;
};

}  // namespace vesk
