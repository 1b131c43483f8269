// The script face of the process's tray icon. The icon's state (installed,
// image, tool tip) lives in the UI process, so every page and every reload
// sees the same; each script context gets a wrapper of its own, made in that
// context, which also keeps that context's click handler.
#pragma once

#include "plugin_base/js_object.h"

namespace plugin {

class TrayIcon : public VeskJsObject<TrayIcon> {
 public:
  static constexpr char kClassName[] = "TrayIcon";
  static std::shared_ptr<TrayIcon> New() { return std::shared_ptr<TrayIcon>(new TrayIcon); }

  void ReleaseScriptValues() override;

 protected:
  void RegisterApis() override;

 private:
  TrayIcon() = default;
  ValueRef click_handler_;
};

}  // namespace plugin
