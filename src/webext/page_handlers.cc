#include "page_handlers.h"

#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace plugin {
namespace {

template <typename Key>
void Store(std::map<Key, ValueRef>* map, Key key, JSCValue* value) {
  if (value)
    (*map)[key] = ValueRef::Share(value);
  else
    map->erase(key);
}

template <typename Key>
ValueRef Find(const std::map<Key, ValueRef>& map, Key key) {
  const auto it = map.find(key);
  return it == map.end() ? ValueRef() : ValueRef::Share(it->second.get());
}

void LogAndClearException(JSCContext* context, const char* what) {
  if (!context) return;
  JSCException* exception = jsc_context_get_exception(context);
  if (!exception) return;
  VESK_LOG(WARNING) << what << " threw: " << jsc_exception_get_message(exception);
  jsc_context_clear_exception(context);
}

}  // namespace

InstanceMessageHandlers& InstanceMessageHandlers::Get() {
  static InstanceMessageHandlers* handlers = new InstanceMessageHandlers;
  return *handlers;
}

void InstanceMessageHandlers::SetHandler(int32_t id, JSCValue* value) { Store(&handlers_, id, value); }

ValueRef InstanceMessageHandlers::GetHandler(int32_t id) const { return Find(handlers_, id); }

void InstanceMessageHandlers::CallHandler(int32_t id) {
  VESK_REQUIRE_MAIN_THREAD();
  // Held here: the handler may replace itself while it runs.
  const ValueRef handler = GetHandler(id);
  if (!handler || !jsc_value_is_function(handler.get())) return;
  // The function runs in the context it was stored from.
  ValueRef result(jsc_value_function_callv(handler.get(), 0, nullptr));
  LogAndClearException(jsc_value_get_context(handler.get()), "instance message handler");
}

CloseHandlers& CloseHandlers::Get() {
  static CloseHandlers* handlers = new CloseHandlers;
  return *handlers;
}

void CloseHandlers::Set(guint64 page_id, JSCValue* function) { Store(&handlers_, page_id, function); }

ValueRef CloseHandlers::Get(guint64 page_id) const { return Find(handlers_, page_id); }

bool CloseHandlers::Ask(guint64 page_id) {
  VESK_REQUIRE_MAIN_THREAD();
  const ValueRef handler = Get(page_id);
  if (!handler || !jsc_value_is_function(handler.get())) return false;
  JSCContext* context = jsc_value_get_context(handler.get());
  ValueRef global(jsc_context_get_global_object(context));
  JSCValue* arguments[] = {global.get()};
  // function.call(window): the handler runs with the global object as this.
  ValueRef result(jsc_value_object_invoke_methodv(handler.get(), "call", 1, arguments));
  const bool keep_open = result && jsc_value_is_boolean(result.get()) && jsc_value_to_boolean(result.get());
  LogAndClearException(context, "close handler");
  return keep_open;
}

void CloseHandlers::Forget(guint64 page_id) { Store(&handlers_, page_id, nullptr); }

}  // namespace plugin
