// Direct calls from the UI process into pages, as WebKit user messages the
// web extension answers: the close request and the instance messages. The
// answers arrive as callbacks; nothing here waits for a web process.
#pragma once

#include <string>

#include "browser/page_bridge.h"
#include "ipc/page_message_delivery.h"

namespace vesk {

class WebPageBridge : public PageBridge {
 public:
  void AskCloseHandler(WebKitWebView* view, std::function<void(bool keep_open)> done) override;
};

// Instance messages go to the main window's page.
class WebPageMessageDelivery : public PageMessageDelivery {
 public:
  void CallPageHandler(int32_t id, IPC::Completion done) override;
};

// Fails every direct call into |view|'s page that still waits for an answer
// (its web process ended): each is logged with |reason| and completed as
// unanswered (a close goes ahead, an instance message's sender is released).
void FailWaitingPageCalls(WebKitWebView* view, const std::string& reason);

}  // namespace vesk
