#include "browser/page_bridge.h"

namespace vesk {
namespace {

// Used until the web extension's channel is installed: pages have no
// handlers, so every close goes ahead.
class NoPageHandlers : public PageBridge {
 public:
  void AskCloseHandler(WebKitWebView*, std::function<void(bool)> done) override { done(false); }
};

std::unique_ptr<PageBridge>& Slot() {
  static auto* slot = new std::unique_ptr<PageBridge>(std::make_unique<NoPageHandlers>());
  return *slot;
}

}  // namespace

PageBridge& PageBridge::Get() { return *Slot(); }

void PageBridge::Set(std::unique_ptr<PageBridge> bridge) {
  if (bridge) Slot() = std::move(bridge);
}

}  // namespace vesk
