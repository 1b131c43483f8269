#include "page_handlers.h"

#include "vesk/core/thread_check.h"

namespace plugin {

InstanceMessageHandlers& InstanceMessageHandlers::Get() {
  static InstanceMessageHandlers* handlers = new InstanceMessageHandlers;
  return *handlers;
}

void InstanceMessageHandlers::CallHandler(int32_t id) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = handlers_.find(id);
  if (it == handlers_.end()) return;
  // A copy: the handler may replace itself (and so the map's entry) while
  // it runs.
  const ValueRef handler = it->second.value();
  CallInOwnContext(handler, nullptr, {}, "instance message handler");
}

CloseHandlers& CloseHandlers::Get() {
  static CloseHandlers* handlers = new CloseHandlers;
  return *handlers;
}

bool CloseHandlers::Ask(guint64 page_id) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = handlers_.find(page_id);
  if (it == handlers_.end()) return false;
  const ValueRef handler = it->second.value();
  if (!handler || !jsc_value_is_function(handler.get())) return false;
  ValueRef global(jsc_context_get_global_object(jsc_value_get_context(handler.get())));
  const ValueRef result = CallInOwnContext(handler, global.get(), {}, "close handler");
  return result && jsc_value_is_boolean(result.get()) && jsc_value_to_boolean(result.get());
}

}  // namespace plugin
