#include "plugin_base/js_object.h"

#include <set>

#include "plugin_base/value_format.h"
#include "vesk/core/command_line.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"

namespace plugin {
namespace {

// What a script function or accessor carries back to its native object.
struct Binding {
  std::weak_ptr<VeskJsObjectBase> self;
  std::string name;
  // Set for objects owned by their script object: keeps the native object
  // alive while this function or accessor is reachable.
  std::shared_ptr<VeskJsObjectBase> owner;
};

void DeleteBinding(gpointer data) {
  auto* binding = static_cast<Binding*>(data);
  if (!binding->owner) {
    delete binding;
    return;
  }
  // The engine drops bindings while it sweeps its heap; the native object's
  // destructor lets go of script values, which must not happen in there.
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer later) -> gboolean {
        delete static_cast<Binding*>(later);
        return G_SOURCE_REMOVE;
      },
      binding, nullptr);
}

void ThrowIfNeeded(const std::string& exception) {
  if (exception.empty()) return;
  if (JSCContext* context = jsc_context_get_current()) jsc_context_throw(context, exception.c_str());
}

JSCValue* Undefined() { return jsc_value_new_undefined(jsc_context_get_current()); }

// Every exception stops here: none may cross into the engine.
template <typename Fn>
JSCValue* Guarded(const std::string& name, Fn&& fn) {
  try {
    return fn();
  } catch (const std::exception& error) {
    VESK_LOG(ERROR) << "script member " << name << " threw: " << error.what();
  } catch (...) {
    VESK_LOG(ERROR) << "script member " << name << " threw";
  }
  return Undefined();
}

JSCValue* CallFunction(GPtrArray* args, gpointer data) {
  auto* binding = static_cast<Binding*>(data);
  return Guarded(binding->name, [&]() -> JSCValue* {
    auto self = binding->self.lock();
    if (!self) return Undefined();
    Arguments arguments;
    for (guint i = 0; args && i < args->len; ++i) arguments.push_back(static_cast<JSCValue*>(args->pdata[i]));
    JSCValue* retval = nullptr;
    std::string exception;
    JSCValue* object = self->GetObject();
    const bool handled = self->Execute(binding->name, object, arguments, &retval, &exception);
    if (object) g_object_unref(object);
    if (handled && !exception.empty()) {
      if (retval) g_object_unref(retval);
      ThrowIfNeeded(exception);
      return Undefined();
    }
    return retval ? retval : Undefined();
  });
}

JSCValue* GetProperty(gpointer data) {
  auto* binding = static_cast<Binding*>(data);
  return Guarded(binding->name, [&]() -> JSCValue* {
    auto self = binding->self.lock();
    if (!self) return Undefined();
    JSCValue* retval = nullptr;
    std::string exception;
    JSCValue* object = self->GetObject();
    const bool handled = self->Get(binding->name, object, &retval, &exception);
    if (object) g_object_unref(object);
    if (handled && !exception.empty()) {
      if (retval) g_object_unref(retval);
      ThrowIfNeeded(exception);
      return Undefined();
    }
    return retval ? retval : Undefined();
  });
}

void SetProperty(JSCValue* value, gpointer data) {
  auto* binding = static_cast<Binding*>(data);
  Guarded(binding->name, [&]() -> JSCValue* {
    auto self = binding->self.lock();
    if (!self) return nullptr;
    std::string exception;
    JSCValue* object = self->GetObject();
    const bool handled = self->Set(binding->name, object, value, &exception);
    if (object) g_object_unref(object);
    if (handled) ThrowIfNeeded(exception);
    return nullptr;
  });
}

}  // namespace

void ReportDuplicateRegistration(const std::map<std::string, ApiEntry>& name2api, const char* name) {
  if (name2api.find(name) != name2api.end() && vesk::logging::DchecksEnabled())
    VESK_LOG(ERROR) << "Check failed: name2api_.find(name) == name2api_.end(). ";
}

void ReportNullGetter() {
  if (vesk::logging::DchecksEnabled()) VESK_LOG(ERROR) << "Check failed: getter != nullptr. ";
}

VeskJsObjectBase::~VeskJsObjectBase() {
  if (object_) g_object_unref(object_);
  if (weak_object_) g_object_unref(weak_object_);
  g_weak_ref_clear(&context_);
}

void VeskJsObjectBase::AddEntry(const std::string& key, ApiEntry entry) { name2api_[key] = entry; }

JSCContext* VeskJsObjectBase::context() const {
  // The weak reference hands out a new strong one; callers get a borrowed
  // pointer that stays valid while the context runs script.
  auto* context = static_cast<JSCContext*>(g_weak_ref_get(const_cast<GWeakRef*>(&context_)));
  if (context) g_object_unref(context);
  return context;
}

JSCValue* VeskJsObjectBase::GetObject() const {
  if (object_) return JSC_VALUE(g_object_ref(object_));
  return weak_object_ ? jsc_weak_value_get_value(weak_object_) : nullptr;
}

JSCValue* VeskJsObjectBase::CreateOwnedObject(JSCContext* context) {
  owned_by_script_ = true;
  CreateObject(context);
  // Our strong reference becomes the caller's; from here on only the page
  // keeps the script object alive.
  JSCValue* object = object_;
  object_ = nullptr;
  if (weak_object_) g_object_unref(weak_object_);
  weak_object_ = jsc_weak_value_new(object);
  return object;
}

void VeskJsObjectBase::ReleaseScriptValues() {
  if (object_) g_object_unref(object_);
  object_ = nullptr;
}

void VeskJsObjectBase::CreateObject(JSCContext* context) {
  if (object_) g_object_unref(object_);
  g_weak_ref_set(&context_, context);
  object_ = jsc_value_new_object(context, nullptr, nullptr);
  name2api_.clear();
  RegisterApis();
  std::weak_ptr<VeskJsObjectBase> self = weak_from_this();
  std::shared_ptr<VeskJsObjectBase> owner = owned_by_script_ ? shared_from_this() : nullptr;
  for (const auto& [key, entry] : name2api_) {
    if (entry.type != 0) continue;
    JSCValue* function =
        jsc_value_new_function_variadic(context, key.c_str(), G_CALLBACK(CallFunction),
                                        new Binding{self, key, owner}, DeleteBinding, JSC_TYPE_VALUE);
    jsc_value_object_set_property(object_, key.c_str(), function);
    g_object_unref(function);
  }
  // Property name -> read-only; a setter makes it writable.
  std::map<std::string, bool> read_only;
  for (const auto& [key, entry] : name2api_)
    if (entry.type == 1) read_only[entry.name] = true;
  for (const auto& [key, entry] : name2api_)
    if (entry.type == 2) read_only[entry.name] = false;
  for (const auto& [name, is_read_only] : read_only) {
    const auto flags = static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_ENUMERABLE);
    jsc_value_object_define_property_accessor(
        object_, name.c_str(), flags, JSC_TYPE_VALUE, G_CALLBACK(GetProperty),
        is_read_only ? nullptr : G_CALLBACK(SetProperty), new Binding{self, name, owner}, DeleteBinding);
  }
}

bool VeskJsObjectBase::ShouldTrace(const ApiEntry& entry) const {
  if (entry.trace_mode == 1) return true;
  if (entry.trace_mode != 0) return false;
  return vesk::CommandLine::ForCurrentProcess().HasSwitch(vesk::switches::kEnableInvokeTrace);
}

bool VeskJsObjectBase::Execute(const std::string& name, JSCValue* object, const Arguments& arguments,
                               JSCValue** retval, std::string* exception) {
  const auto it = name2api_.find(name);
  if (it == name2api_.end() || it->second.type != 0 || it->second.slot < 0) return false;
  if (ShouldTrace(it->second))
    VESK_LOG(INFO) << TraceLabel() << "::Execute::" << name << "(" << ArgumentsToString(arguments) << ")";
  return InvokeFunction(it->second.slot, object, arguments, retval, exception);
}

bool VeskJsObjectBase::Get(const std::string& name, JSCValue* object, JSCValue** retval,
                           std::string* exception) {
  const auto it = name2api_.find(name + "getter");
  if (it == name2api_.end() || it->second.type != 1 || it->second.slot < 0) return false;
  return InvokeGetter(it->second.slot, object, retval, exception);
}

bool VeskJsObjectBase::Set(const std::string& name, JSCValue* object, JSCValue* value,
                           std::string* exception) {
  const auto it = name2api_.find(name + "setter");
  if (it == name2api_.end() || it->second.type != 2 || it->second.slot < 0) return false;
  if (ShouldTrace(it->second))
    VESK_LOG(INFO) << TraceLabel() << "::Set::" << name << "(" << ValueToString(value, 0) << ")";
  return InvokeSetter(it->second.slot, object, value, exception);
}

}  // namespace plugin
