// window.os: questions about the desktop and opening external targets.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/plugin.h"

namespace plugin {

class Os : public VeskPlugin<Os> {
 public:
  static constexpr char kClassName[] = "Os";
  static std::shared_ptr<Os> New() { return std::shared_ptr<Os>(new Os); }
  void ReleaseScriptValues() override;

 protected:
  void RegisterApis() override;

 private:
  Os() : VeskPlugin<Os>("os") {}

  ValueRef aero_style_changed_handler_;
};

// An object whose members arrive with later work; attached now so pages
// find it on window.
class Browser : public VeskPlugin<Browser> {
 public:
  static constexpr char kClassName[] = "Browser";
  static std::shared_ptr<Browser> New() { return std::shared_ptr<Browser>(new Browser); }

 protected:
  void RegisterApis() override {}

 private:
  Browser() : VeskPlugin<Browser>("browser") {}
};

}  // namespace plugin
