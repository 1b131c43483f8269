// Script functions the UI process calls directly: the instance-message
// handlers (process-wide, one per message id) and each page's close handler.
// Both follow StoredHandler's origin rule. Web process main thread only.
#pragma once

#include <jsc/jsc.h>

#include <cstdint>
#include <map>

#include "plugin_base/context_scope.h"
#include "plugin_base/stored_handler.h"

namespace plugin {

class InstanceMessageHandlers {
 public:
  static InstanceMessageHandlers& Get();
  // Where the handler of |id| is kept.
  StoredHandler* Slot(int32_t id) { return &handlers_[id]; }
  // Calls the stored function with no this and no arguments; the result and
  // any exception are dropped (the exception is logged).
  void CallHandler(int32_t id);

 private:
  InstanceMessageHandlers() = default;
  std::map<int32_t, StoredHandler> handlers_;
};

// The page's close handler stays in force across the page's documents until
// it is replaced, as long as the main frame shows the origin that stored
// it. Once the document that stored it is gone and the main frame shows
// another origin, it is dropped and the window closes as if none had been
// set.
class CloseHandlers {
 public:
  static CloseHandlers& Get();
  // Where the close handler of the page is kept.
  StoredHandler* Slot(guint64 page_id) { return &handlers_[page_id]; }
  // Calls the page's handler with no arguments; true only when it returned
  // the boolean true. |this| is the global object of the main frame's
  // current context (|main_scope|, |main_context|; null when it has none)
  // when that context has the handler's origin, else the global object of
  // the handler's own context.
  bool Ask(guint64 page_id, const ContextScope* main_scope, JSCContext* main_context);
  void Forget(guint64 page_id) { handlers_.erase(page_id); }

 private:
  CloseHandlers() = default;
  std::map<guint64, StoredHandler> handlers_;
};

}  // namespace plugin
