// A script object attached to window under a name, one per script context.
#pragma once

#include <webkit2/webkit-web-extension.h>

#include <string>

#include "plugin_base/js_object.h"

namespace plugin {

class VeskPluginBase : public virtual VeskJsObjectBase {
 public:
  // Makes the object window[name_] in |context| and remembers the page and
  // frame it belongs to.
  virtual void Attach(WebKitWebPage* page, WebKitFrame* frame, JSCContext* context);
  const std::string& name() const { return name_; }
  guint64 page_id() const { return page_id_; }

 protected:
  explicit VeskPluginBase(std::string name) : name_(std::move(name)) {}

  std::string name_;
  guint64 page_id_ = 0;
  bool main_frame_ = false;
};

template <typename T>
class VeskPlugin : public VeskPluginBase, public VeskJsObject<T> {
 protected:
  explicit VeskPlugin(std::string name) : VeskPluginBase(std::move(name)) {}
};

}  // namespace plugin
