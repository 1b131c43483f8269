// The script face of the page's proxy table and default proxy, which the UI
// process keeps (one per process); returned by app.getProxyHandler().
#pragma once

#include "plugin_base/js_object.h"

namespace plugin {

class ProxyHelper : public VeskJsObject<ProxyHelper> {
 public:
  static constexpr char kClassName[] = "ProxyHelper";
  // One wrapper per script context (ContextScope::WrapperOf); it holds no
  // proxy state of its own.
  static std::shared_ptr<ProxyHelper> NewWrapper() { return std::shared_ptr<ProxyHelper>(new ProxyHelper); }

 protected:
  void RegisterApis() override;

 private:
  ProxyHelper() = default;
};

}  // namespace plugin
