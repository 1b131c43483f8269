// Script functions the UI process calls directly: the instance-message
// handlers (process-wide, one per message id) and each page's close handler.
// Web process main thread only.
#pragma once

#include <jsc/jsc.h>

#include <cstdint>
#include <map>

#include "plugin_base/value_ref.h"

namespace plugin {

class InstanceMessageHandlers {
 public:
  static InstanceMessageHandlers& Get();
  // Replaces the entry of |id|; |value| may be any script value.
  void SetHandler(int32_t id, JSCValue* value);
  // Empty when nothing is stored.
  ValueRef GetHandler(int32_t id) const;
  // Calls the stored function with no this and no arguments; the result and
  // any exception are dropped (the exception is logged).
  void CallHandler(int32_t id);

 private:
  InstanceMessageHandlers() = default;
  std::map<int32_t, ValueRef> handlers_;
};

class CloseHandlers {
 public:
  static CloseHandlers& Get();
  void Set(guint64 page_id, JSCValue* function);
  ValueRef Get(guint64 page_id) const;  // empty when none
  // Calls the page's handler with the global object as this; true only when
  // it returned the boolean true.
  bool Ask(guint64 page_id);
  void Forget(guint64 page_id);

 private:
  CloseHandlers() = default;
  std::map<guint64, ValueRef> handlers_;
};

}  // namespace plugin
