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

namespace {

// Whether contexts of these origins may share script values. Opaque origins
// all read "null" but are each their own.
bool SameOrigin(const std::string& a, const std::string& b) { return a == b && a != "null"; }

}  // namespace

bool CloseHandlers::Ask(guint64 page_id, const ContextScope* main_scope, JSCContext* main_context) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = handlers_.find(page_id);
  if (it == handlers_.end()) return false;
  StoredHandler& stored = it->second;
  const ValueRef handler = stored.value();
  if (!handler || !jsc_value_is_function(handler.get())) return false;
  const std::shared_ptr<const ContextScope> owner = stored.LiveOwner();
  const bool main_live = main_scope && main_context && !main_scope->released();
  const bool main_same_origin =
      main_live && (owner.get() == main_scope || SameOrigin(stored.origin(), main_scope->origin()));
  if (!owner && !main_same_origin) {
    // The document that stored it is gone and the main frame now shows
    // another origin: a page of that origin must not be held open, or run,
    // by the old page's code.
    stored.Clear();
    return false;
  }
  // The handler runs with the main frame's current global as this, also
  // after the page navigated within its origin. That global is a value of
  // another context when a frame or an earlier document stored the handler;
  // a context of the same origin may be given it (it could reach it through
  // window.top anyway), but a frame of another origin must not get the main
  // page's global (and through it the page's Function), so it gets its own.
  JSCContext* this_context = main_same_origin ? main_context : jsc_value_get_context(handler.get());
  const ValueRef global(jsc_context_get_global_object(this_context));
  const ValueRef result = CallInOwnContext(handler, global.get(), {}, "close handler");
  return result && jsc_value_is_boolean(result.get()) && jsc_value_to_boolean(result.get());
}

}  // namespace plugin
