// window.app: the application as a whole.
#pragma once

#include "plugin_base/plugin.h"
#include "plugins/tray_icon.h"

namespace plugin {

class App : public VeskPlugin<App> {
 public:
  static constexpr char kClassName[] = "App";
  static std::shared_ptr<App> New() { return std::shared_ptr<App>(new App); }

  // This context's wrapper of the process's tray icon, made on first use.
  const std::shared_ptr<TrayIcon>& tray_icon() const { return tray_icon_; }
  void set_tray_icon(std::shared_ptr<TrayIcon> icon) { tray_icon_ = std::move(icon); }
  void ReleaseScriptValues() override;

 protected:
  void RegisterApis() override;

 private:
  App() : VeskPlugin<App>("app") {}

  std::shared_ptr<TrayIcon> tray_icon_;
};

}  // namespace plugin
