// The script face of the UI process's error page store; one per process.
#pragma once

#include "plugin_base/js_object.h"

namespace plugin {

class ErrorHandler : public VeskJsObject<ErrorHandler> {
 public:
  static constexpr char kClassName[] = "ErrorHandler";
  // Created, with its script object, on first use; the same afterwards.
  static ErrorHandler* Instance(JSCContext* context);

 protected:
  void RegisterApis() override;

 private:
  ErrorHandler() = default;
};

}  // namespace plugin
