// window.app: the application as a whole.
#pragma once

#include "plugin_base/plugin.h"

namespace plugin {

class App : public VeskPlugin<App> {
 public:
  static constexpr char kClassName[] = "App";
  static std::shared_ptr<App> New() { return std::shared_ptr<App>(new App); }

 protected:
  void RegisterApis() override;

 private:
  App() : VeskPlugin<App>("app") {}
};

}  // namespace plugin
