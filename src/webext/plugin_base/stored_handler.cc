#include "plugin_base/stored_handler.h"

#include "plugin_base/context_scope.h"
#include "vesk/core/logging.h"
#include "vesk/core/object_ref.h"

namespace plugin {

ValueRef StoredHandler::ReadFrom(const ContextScope* reader) const {
  if (!reader || !value_ || reader->origin() != origin_) return ValueRef();
  return ValueRef::Share(value_.get());
}

bool StoredHandler::WriteFrom(const ContextScope* writer, JSCValue* value) {
  if (!writer) return false;
  if (value_ && writer->origin() != origin_ && !writer->main_frame()) {
    VESK_LOG(WARNING) << "A frame of " << writer->origin() << " may not replace a handler of " << origin_;
    return false;
  }
  value_ = ValueRef::Share(value);
  origin_ = value ? writer->origin() : std::string();
  owner_ = value ? writer->weak_from_this() : std::weak_ptr<const ContextScope>();
  return true;
}

std::shared_ptr<const ContextScope> StoredHandler::LiveOwner() const {
  std::shared_ptr<const ContextScope> owner = owner_.lock();
  if (!value_ || !owner || owner->released()) return nullptr;
  return owner;
}

void StoredHandler::Clear() {
  value_.reset();
  origin_.clear();
  owner_.reset();
}

ValueRef CallInOwnContext(const ValueRef& function, JSCValue* this_value,
                          const std::vector<JSCValue*>& arguments, const char* what) {
  // Our own references: the script may drop every other one while it runs.
  const ValueRef held = ValueRef::Share(function.get());
  if (!held || !jsc_value_is_function(held.get())) return ValueRef();
  const vesk::ObjectRef<JSCContext> context =
      vesk::ObjectRef<JSCContext>::Share(jsc_value_get_context(held.get()));
  const ValueRef held_this = ValueRef::Share(this_value);
  ValueRef result;
  if (held_this) {
    // function.call(this, ...arguments)
    std::vector<JSCValue*> call_arguments{held_this.get()};
    call_arguments.insert(call_arguments.end(), arguments.begin(), arguments.end());
    result.reset(jsc_value_object_invoke_methodv(
        held.get(), "call", static_cast<guint>(call_arguments.size()), call_arguments.data()));
  } else {
    result.reset(jsc_value_function_callv(held.get(), static_cast<guint>(arguments.size()),
                                          const_cast<JSCValue**>(arguments.data())));
  }
  if (JSCException* exception = jsc_context_get_exception(context.get())) {
    VESK_LOG(WARNING) << what << " threw: " << jsc_exception_get_message(exception);
    jsc_context_clear_exception(context.get());
    return ValueRef();
  }
  return result;
}

}  // namespace plugin
