// The UpdatePackage object that app.newUpdatePackage(name) hands out: a
// file in the update directory that the page fills piece by piece. Appends
// are written on the file thread in call order; each reports back through
// its callback. The file on disk is the whole state.
#pragma once

#include <memory>
#include <string>

#include "plugin_base/checks.h"
#include "plugin_base/js_object.h"

namespace plugin {

class UpdatePackage : public VeskJsObject<UpdatePackage> {
 public:
  static constexpr char kClassName[] = "UpdatePackage";
  // With |create_file|, creates the file empty (truncating one of that
  // name); a file that cannot be created shows later, as appends that fail.
  static std::shared_ptr<UpdatePackage> New(std::string path, bool create_file = true);
  const std::string& path() const { return path_; }

 protected:
  void RegisterApis() override;

 private:
  explicit UpdatePackage(std::string path) : path_(std::move(path)) {}

  const std::string path_;
};

}  // namespace plugin
