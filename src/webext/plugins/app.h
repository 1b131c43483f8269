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

  bool Exit(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetErrorHandler(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool SetAutoRun(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool CancelAutoRun(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetAutoRunState(JSCValue*, const Arguments&, JSCValue**, std::string*);
  bool GetQbunVersion(JSCValue*, const Arguments&, JSCValue**, std::string*);

  bool GetShowUploadMenu(JSCValue*, JSCValue**, std::string*);
  bool SetShowUploadMenu(JSCValue*, JSCValue*, std::string*);
  bool GetVersion(JSCValue*, JSCValue**, std::string*);
  bool GetOnUploadFile(JSCValue*, JSCValue**, std::string*);
  bool SetOnUploadFile(JSCValue*, JSCValue*, std::string*);
  bool GetOnExitMessage(JSCValue*, JSCValue**, std::string*);
  bool SetOnExitMessage(JSCValue*, JSCValue*, std::string*);
  bool GetOnForegroundPreInstance(JSCValue*, JSCValue**, std::string*);
  bool SetOnForegroundPreInstance(JSCValue*, JSCValue*, std::string*);
};

}  // namespace plugin
