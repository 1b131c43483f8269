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

  bool BringWindowToTop(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool DragWindow(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetWindowOpacity(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool LaunchWindow(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool PopUpMenu(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetWindowPosition(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetWindowInfo(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetWindowOpacity(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetWindowSizeLimit(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetWindowPosition(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetWindowTitle(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetWindowIconFromLocalFile(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool ShowWindow(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SizeWindow(JSCValue*, const Arguments&, JSCValue**, std::string*);

  bool GetOnMenuClick(JSCValue*, JSCValue**, std::string*);
  bool SetOnMenuClick(JSCValue*, JSCValue*, std::string*);
  bool GetOnLoseFocus(JSCValue*, JSCValue**, std::string*);
  bool SetOnLoseFocus(JSCValue*, JSCValue*, std::string*);
  bool GetOnClose(JSCValue*, JSCValue**, std::string*);
  bool SetOnClose(JSCValue*, JSCValue*, std::string*);

  ValueRef menu_click_handler_;
  ValueRef lose_focus_handler_;
};

}  // namespace plugin
