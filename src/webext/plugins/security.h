// window.security: session-key wrapping, access keys, GUIDs and the digest,
// checksum and compression objects. Everything runs here in the web
// process; nothing goes to the host.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/plugin.h"

namespace plugin {

class Security : public VeskPlugin<Security> {
 public:
  static constexpr char kClassName[] = "Security";
  static std::shared_ptr<Security> New() { return std::shared_ptr<Security>(new Security); }

 protected:
  void RegisterApis() override;

 private:
  Security() : VeskPlugin<Security>("security") {}
};

}  // namespace plugin
