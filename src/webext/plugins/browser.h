// window.browser: cookies of any site, another origin's local storage, and
// the click on a file input that completes an upload hand-over.
#pragma once

#include "plugin_base/checks.h"
#include "plugin_base/plugin.h"

namespace plugin {

class Browser : public VeskPlugin<Browser> {
 public:
  static constexpr char kClassName[] = "Browser";
  static std::shared_ptr<Browser> New() { return std::shared_ptr<Browser>(new Browser); }

 protected:
  void RegisterApis() override;

 private:
  Browser() : VeskPlugin<Browser>("browser") {}
};

// The point a click on a rectangle goes to: the middle, in whole pixels
// (integer halves, truncated).
struct ClickPoint {
  int x = 0;
  int y = 0;
};
ClickPoint MiddleOf(int left, int top, int right, int bottom);

}  // namespace plugin
