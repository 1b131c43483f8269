// The Compress object that security.newZlib() hands out; it keeps no state.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/js_object.h"

namespace plugin {

class Compress : public VeskJsObject<Compress> {
 public:
  static constexpr char kClassName[] = "Compress";
  static std::shared_ptr<Compress> New() { return std::shared_ptr<Compress>(new Compress); }

 protected:
  void RegisterApis() override;

 private:
  Compress() = default;
};

}  // namespace plugin
