// The road from an instance message to the page: the page's dispatcher (in
// the web process) holds the functions stored by app.onForegroundPreInstance,
// app.onUploadFile and app.onExitMessage. An implementation asks the page to
// call the one stored for an id and runs |done| when the page has replied;
// it must never wait for the web process on the UI thread.
#pragma once

#include <cstdint>

#include "vesk/core/ipc/ipc.h"

namespace vesk {

class PageMessageDelivery {
 public:
  virtual ~PageMessageDelivery() = default;
  virtual void CallPageHandler(int32_t id, IPC::Completion done) = 0;
};

// Used while no page connection is installed: logs "no page handler" and
// completes at once, so the sender is released.
class LoggingPageMessageDelivery : public PageMessageDelivery {
 public:
  void CallPageHandler(int32_t id, IPC::Completion done) override;
};

}  // namespace vesk
