// The CRC32 object that security.newCRC() hands out; it keeps no state.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/js_object.h"

namespace plugin {

class CRC32 : public VeskJsObject<CRC32> {
 public:
  static constexpr char kClassName[] = "CRC32";
  static std::shared_ptr<CRC32> New() { return std::shared_ptr<CRC32>(new CRC32); }

 protected:
  void RegisterApis() override;

 private:
  CRC32() = default;
};

}  // namespace plugin
