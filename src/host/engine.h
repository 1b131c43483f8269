// The browser engine of the UI process: one WebKitWebContext and its website
// data manager, created when the first window is made and released after the
// main loop has ended.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

#include "vesk/core/engine_settings.h"

namespace vesk {

class Engine {
 public:
  static Engine& Get();

  // Stores the settings; nothing is created yet.
  void Initialize(const EngineSettings& settings);
  bool initialized() const { return initialized_; }
  // Creates the context on first use.
  WebKitWebContext* context();
  WebKitSettings* settings();
  // Releases the settings, the context and its data manager.
  void Shutdown();
  // Where the web extension is loaded from; <program dir>/webext unless a
  // test or benchmark built elsewhere points it at the program's.
  void set_web_extension_directory(std::string dir) { web_extension_directory_ = std::move(dir); }

 private:
  Engine() = default;
  void CreateContext();
  void InstallWebExtension();

  bool initialized_ = false;
  EngineSettings settings_;
  WebKitWebContext* context_ = nullptr;
  WebKitSettings* web_settings_ = nullptr;
  std::string web_extension_directory_;
};

}  // namespace vesk
