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
  // Also keeps the context's own window.open, before the page's scripts can
  // replace it: launches go through the engine's, whatever the page did.
  void Attach(WebKitWebPage* page, WebKitFrame* frame, JSCContext* context) override;
  // The engine's window.open of this object's context (empty before Attach).
  JSCValue* engine_open() const { return engine_open_.get(); }

 protected:
  void RegisterApis() override;

 private:
  Winhelper() : VeskPlugin<Winhelper>("winhelper") {}

  ValueRef menu_click_handler_;
  ValueRef lose_focus_handler_;
  ValueRef engine_open_;
};

}  // namespace plugin
