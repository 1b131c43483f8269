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

}  // namespace plugin
