#include "page_handlers.h"

#include "vesk/core/logging.h"

namespace plugin {
namespace {

void Store(std::map<guint64, JSCValue*>* map, guint64 key, JSCValue* value) {
  auto it = map->find(key);
  if (it != map->end()) {
    g_object_unref(it->second);
    map->erase(it);
  }
  if (value) (*map)[key] = JSC_VALUE(g_object_ref(value));
}

void LogAndClearException(JSCContext* context, const char* what) {
  if (!context) return;
  JSCException* exception = jsc_context_get_exception(context);
  if (!exception) return;
  VESK_LOG(WARNING) << what << " threw: " << jsc_exception_get_message(exception);
  jsc_context_clear_exception(context);
}

}  // namespace

IPCDispatcher& IPCDispatcher::Get() {
  static IPCDispatcher* dispatcher = new IPCDispatcher;
  return *dispatcher;
}

void IPCDispatcher::SetHandler(int32_t id, JSCValue* value) {
  auto it = handlers_.find(id);
  if (it != handlers_.end()) {
    g_object_unref(it->second);
    handlers_.erase(it);
  }
  if (value) handlers_[id] = JSC_VALUE(g_object_ref(value));
}

JSCValue* IPCDispatcher::GetHandler(int32_t id) const {
  const auto it = handlers_.find(id);
  return it == handlers_.end() ? nullptr : JSC_VALUE(g_object_ref(it->second));
}

void IPCDispatcher::CallHandler(int32_t id) {
  const auto it = handlers_.find(id);
  if (it == handlers_.end() || !jsc_value_is_function(it->second)) return;
  // The function runs in the context it was stored from.
  JSCValue* result = jsc_value_function_callv(it->second, 0, nullptr);
  if (result) g_object_unref(result);
  LogAndClearException(jsc_value_get_context(it->second), "instance message handler");
}

CloseHandlers& CloseHandlers::Get() {
  static CloseHandlers* handlers = new CloseHandlers;
  return *handlers;
}

void CloseHandlers::Set(guint64 page_id, JSCValue* function) { Store(&handlers_, page_id, function); }

JSCValue* CloseHandlers::Get(guint64 page_id) const {
  const auto it = handlers_.find(page_id);
  return it == handlers_.end() ? nullptr : JSC_VALUE(g_object_ref(it->second));
}

bool CloseHandlers::Ask(guint64 page_id) {
  const auto it = handlers_.find(page_id);
  if (it == handlers_.end() || !jsc_value_is_function(it->second)) return false;
  JSCContext* context = jsc_value_get_context(it->second);
  JSCValue* global = jsc_context_get_global_object(context);
  JSCValue* arguments[] = {global};
  // function.call(window): the handler runs with the global object as this.
  JSCValue* result = jsc_value_object_invoke_methodv(it->second, "call", 1, arguments);
  g_object_unref(global);
  const bool keep_open = result && jsc_value_is_boolean(result) && jsc_value_to_boolean(result);
  if (result) g_object_unref(result);
  LogAndClearException(context, "close handler");
  return keep_open;
}

void CloseHandlers::Forget(guint64 page_id) { Store(&handlers_, page_id, nullptr); }

}  // namespace plugin
