// The script face of the UI process's error page store; one per process.
#pragma once

#include "plugin_base/js_object.h"

namespace plugin {

class ErrorHandler : public VeskJsObject<ErrorHandler> {
 public:
  static constexpr char kClassName[] = "ErrorHandler";
  // One wrapper per script context (ContextScope::WrapperOf): the store it
  // fronts is the UI process's, one per process.
  static std::shared_ptr<ErrorHandler> NewWrapper() {
    return std::shared_ptr<ErrorHandler>(new ErrorHandler);
  }

 protected:
  void RegisterApis() override;

 private:
  ErrorHandler() = default;
};

}  // namespace plugin
