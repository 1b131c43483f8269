// The MD5 object that security.newMD5() hands out: a digest the page fills
// piece by piece (state rules in vesk/core/security/md5_digest.h).
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/js_object.h"
#include "vesk/core/security/md5_digest.h"

namespace plugin {

class MD5 : public VeskJsObject<MD5> {
 public:
  static constexpr char kClassName[] = "MD5";
  static std::shared_ptr<MD5> New() { return std::shared_ptr<MD5>(new MD5); }
  vesk::security::Md5Digest& digest() { return digest_; }

 protected:
  void RegisterApis() override;

 private:
  MD5() = default;

  vesk::security::Md5Digest digest_;
};

}  // namespace plugin
