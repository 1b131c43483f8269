// The browser engine of the UI process: one WebKitWebContext and its website
// data manager, created when the first window is made and released after the
// main loop has ended.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

#include "vesk_app.h"

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

 private:
  Engine() = default;
  void CreateContext();
  void InstallWebExtension();

  bool initialized_ = false;
  EngineSettings settings_;
  WebKitWebContext* context_ = nullptr;
  WebKitSettings* web_settings_ = nullptr;
};

}  // namespace vesk
