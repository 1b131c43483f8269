// Calls from the UI process into a page that need the page's answer. The
// UI process never waits for a web process: every answer arrives through a
// callback on the main thread.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>

namespace vesk {

class PageBridge {
 public:
  virtual ~PageBridge() = default;
  // Asks the page's stored close handler; |keep_open| is true only when it
  // returned the boolean true. Without a handler the answer is false.
  virtual void AskCloseHandler(WebKitWebView* view, std::function<void(bool keep_open)> done) = 0;

  // The bridge in use; by default one that knows no page handlers.
  static PageBridge& Get();
  static void Set(std::unique_ptr<PageBridge> bridge);
};

}  // namespace vesk
