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

StoredHandler* CloseHandlers::Slot(guint64 page_id) {
  StoredHandler* slot = &handlers_[page_id];
  if (!slot->LiveOwner()) slot->Clear();
  return slot;
}

namespace {

// Whether the two contexts may share script values: the same context, or
// two contexts of one (non-opaque) origin. Opaque origins all read "null"
// but are each their own.
bool SameOrigin(const ContextScope& a, const ContextScope& b) {
  return &a == &b || (a.origin() == b.origin() && a.origin() != "null");
}

}  // namespace

bool CloseHandlers::Ask(guint64 page_id, const ContextScope* main_scope, JSCContext* main_context) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = handlers_.find(page_id);
  if (it == handlers_.end()) return false;
  const std::shared_ptr<const ContextScope> owner = it->second.LiveOwner();
  if (!owner) {
    it->second.Clear();
    return false;
  }
  const ValueRef handler = it->second.value();
  if (!jsc_value_is_function(handler.get())) return false;
  // The handler runs with the main frame's current global as this. That
  // global is a value of another context when a frame stored the handler;
  // a context of the same origin may be given it (it could reach it through
  // window.top anyway), but a frame of another origin must not get the main
  // page's global (and through it the page's Function), so it gets its own.
  JSCContext* this_context = jsc_value_get_context(handler.get());
  if (main_scope && main_context && !main_scope->released() && SameOrigin(*owner, *main_scope)) {
    this_context = main_context;
  }
  const ValueRef global(jsc_context_get_global_object(this_context));
  const ValueRef result = CallInOwnContext(handler, global.get(), {}, "close handler");
  return result && jsc_value_is_boolean(result.get()) && jsc_value_to_boolean(result.get());
}

}  // namespace plugin
