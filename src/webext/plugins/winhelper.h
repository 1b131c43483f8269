// window.winhelper: the top-level window that shows the page.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/plugin.h"

namespace plugin {

class Winhelper : public VeskPlugin<Winhelper> {
 public:
  static constexpr char kClassName[] = "Winhelper";
  static std::shared_ptr<Winhelper> New() { return std::shared_ptr<Winhelper>(new Winhelper); }
  void ReleaseScriptValues() override;

 protected:
  void RegisterApis() override;

 private:
  Winhelper() : VeskPlugin<Winhelper>("winhelper") {}

  ValueRef menu_click_handler_;
  ValueRef lose_focus_handler_;
};

}  // namespace plugin
