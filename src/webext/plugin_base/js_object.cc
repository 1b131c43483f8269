#include "plugin_base/js_object.h"

#include <set>

#include "plugin_base/value_format.h"
#include "vesk/core/command_line.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"
#include "vesk/core/thread_check.h"

namespace plugin {
namespace {

// What a script function or accessor carries back to its native object.
struct Binding {
  std::weak_ptr<VeskJsObjectBase> self;
  std::string name;
  std::string where;  // "script member <name>", for the log
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

JSCValue* Undefined() { return jsc_value_new_undefined(jsc_context_get_current()); }

// A throw goes to the current context.
bool ThrowIfNeeded(const Call& call) {
  if (!call.threw()) return false;
  if (JSCContext* context = jsc_context_get_current()) jsc_context_throw(context, call.exception().c_str());
  return true;
}

// The call's outcome for the engine: its value, or undefined after a throw.
JSCValue* Finish(Call& call) {
  if (ThrowIfNeeded(call)) return nullptr;
  return call.TakeResult().release();
}

// Runs an engine entry point; undefined for nothing or an exception.
template <typename Fn>
JSCValue* GuardedValue(const Binding& binding, Fn&& fn) {
  JSCValue* result =
      vesk::Guarded(binding.where.c_str(), std::forward<Fn>(fn), static_cast<JSCValue*>(nullptr));
  return result ? result : Undefined();
}

Binding* NewBinding(std::weak_ptr<VeskJsObjectBase> self, const std::string& name,
                    std::shared_ptr<VeskJsObjectBase> owner) {
  return new Binding{std::move(self), name, "script member " + name, std::move(owner)};
}

// Every exception stops at these three: none may cross into the engine.
JSCValue* CallFunction(GPtrArray* args, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* binding = static_cast<Binding*>(data);
  return GuardedValue(*binding, [&]() -> JSCValue* {
    auto self = binding->self.lock();
    if (!self) return nullptr;
    Arguments arguments;
    arguments.reserve(args ? args->len : 0);
    for (guint i = 0; args && i < args->len; ++i) arguments.push_back(static_cast<JSCValue*>(args->pdata[i]));
    Call call(jsc_context_get_current(), std::move(arguments));
    self->Execute(binding->name, call);
    return Finish(call);
  });
}

JSCValue* GetProperty(gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* binding = static_cast<Binding*>(data);
  return GuardedValue(*binding, [&]() -> JSCValue* {
    auto self = binding->self.lock();
    if (!self) return nullptr;
    Call call(jsc_context_get_current(), {});
    self->Get(binding->name, call);
    return Finish(call);
  });
}

void SetProperty(JSCValue* value, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* binding = static_cast<Binding*>(data);
  vesk::Guarded(binding->where.c_str(), [&] {
    auto self = binding->self.lock();
    if (!self) return;
    Call call(jsc_context_get_current(), {value});
    self->Set(binding->name, call);
    ThrowIfNeeded(call);
  });
}

void ReportDuplicateRegistration(const std::map<std::string, ApiEntry>& name2api, const char* name) {
  VESK_DCHECK_TEXT(name2api.find(name) == name2api.end(), "name2api_.find(name) == name2api_.end()");
}

}  // namespace

bool Call::ExpectCount(size_t count) {
  if (arguments_.size() == count) return true;
  Throw("arguments should have " + std::to_string(count) + " object(s)");
  return false;
}

bool Call::ExpectMinimumCount(size_t count) {
  if (arguments_.size() >= count) return true;
  Throw("arguments should have " + std::to_string(count) + " object(s) at least");
  return false;
}

bool Call::Expect(bool passes, int index, const char* type) {
  if (passes) return true;
  Throw("arguments[" + std::to_string(index) + "] should be " + type);
  return false;
}

void Call::ReturnBool(bool value) { result_.reset(jsc_value_new_boolean(context_, value)); }
void Call::ReturnNumber(double value) { result_.reset(jsc_value_new_number(context_, value)); }
void Call::ReturnString(const std::string& value) {
  result_.reset(jsc_value_new_string(context_, value.c_str()));
}

VeskJsObjectBase::~VeskJsObjectBase() { g_weak_ref_clear(&context_); }

void VeskJsObjectBase::AddFunction(const char* name, Invoke function, TraceMode trace_mode) {
  ReportDuplicateRegistration(name2api_, name);
  members_.push_back(std::move(function));
  name2api_[name] = ApiEntry{name, trace_mode, MemberKind::kFunction, static_cast<int>(members_.size() - 1)};
}

void VeskJsObjectBase::AddProperty(const char* name, Invoke getter, Invoke setter) {
  ReportDuplicateRegistration(name2api_, name);
  VESK_DCHECK(getter != nullptr);
  members_.push_back(std::move(getter));
  name2api_[std::string(name) + "getter"] =
      ApiEntry{name, TraceMode::kWithSwitch, MemberKind::kGetter, static_cast<int>(members_.size() - 1)};
  if (setter) {
    members_.push_back(std::move(setter));
    name2api_[std::string(name) + "setter"] =
        ApiEntry{name, TraceMode::kWithSwitch, MemberKind::kSetter, static_cast<int>(members_.size() - 1)};
  }
}

void VeskJsObjectBase::RegisterHandlerProperty(const char* name, HandlerSlot slot) {
  auto shared = std::make_shared<HandlerSlot>(std::move(slot));
  AddProperty(
      name,
      [this, shared](Call& call) {
        const StoredHandler* storage = shared->storage();
        if (storage) call.Return(storage->ReadFrom(scope().get()));
      },
      [this, shared](Call& call) {
        JSCValue* value = call[0];
        if (shared->accepts == Accepts::kFunctions && !(value && jsc_value_is_function(value))) {
          call.Throw("value should be Function");
          return;
        }
        if (StoredHandler* storage = shared->storage()) storage->WriteFrom(scope().get(), value);
      });
}

void VeskJsObjectBase::RegisterHandlerProperty(const char* name, ValueRef* storage) {
  AddProperty(
      name, [storage](Call& call) { call.Return(ValueRef::Share(storage->get())); },
      [storage](Call& call) {
        JSCValue* value = call[0];
        if (!(value && jsc_value_is_function(value))) return call.Throw("value should be Function");
        *storage = ValueRef::Share(value);
      });
}

JSCContext* VeskJsObjectBase::context() const {
  // The weak reference hands out a new strong one; callers get a borrowed
  // pointer that stays valid while the context runs script.
  vesk::ObjectRef<JSCContext> context(
      static_cast<JSCContext*>(g_weak_ref_get(const_cast<GWeakRef*>(&context_))));
  return context.get();
}

ValueRef VeskJsObjectBase::GetObject() const {
  if (object_) return ValueRef::Share(object_.get());
  return ValueRef(weak_object_ ? jsc_weak_value_get_value(weak_object_.get()) : nullptr);
}

ValueRef VeskJsObjectBase::CreateOwnedObject(JSCContext* context) {
  owned_by_script_ = true;
  CreateObject(context);
  // Our strong reference becomes the caller's; from here on only the page
  // keeps the script object alive.
  ValueRef object = std::move(object_);
  weak_object_.reset(jsc_weak_value_new(object.get()));
  return object;
}

void VeskJsObjectBase::ReleaseScriptValues() { object_.reset(); }

void VeskJsObjectBase::CreateObject(JSCContext* context) {
  g_weak_ref_set(&context_, context);
  object_.reset(jsc_value_new_object(context, nullptr, nullptr));
  name2api_.clear();
  members_.clear();
  RegisterApis();
  std::weak_ptr<VeskJsObjectBase> self = weak_from_this();
  std::shared_ptr<VeskJsObjectBase> owner = owned_by_script_ ? shared_from_this() : nullptr;
  for (const auto& [key, entry] : name2api_) {
    if (entry.kind != MemberKind::kFunction) continue;
    ValueRef function(jsc_value_new_function_variadic(context, key.c_str(), G_CALLBACK(CallFunction),
                                                      NewBinding(self, key, owner), DeleteBinding,
                                                      JSC_TYPE_VALUE));
    jsc_value_object_set_property(object_.get(), key.c_str(), function.get());
  }
  // Property name -> read-only; a setter makes it writable.
  std::map<std::string, bool> read_only;
  for (const auto& [key, entry] : name2api_)
    if (entry.kind == MemberKind::kGetter) read_only[entry.name] = true;
  for (const auto& [key, entry] : name2api_)
    if (entry.kind == MemberKind::kSetter) read_only[entry.name] = false;
  for (const auto& [name, is_read_only] : read_only) {
    const auto flags = static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_ENUMERABLE);
    jsc_value_object_define_property_accessor(
        object_.get(), name.c_str(), flags, JSC_TYPE_VALUE, G_CALLBACK(GetProperty),
        is_read_only ? nullptr : G_CALLBACK(SetProperty), NewBinding(self, name, owner), DeleteBinding);
  }
}

bool VeskJsObjectBase::ShouldTrace(const ApiEntry& entry) const {
  switch (entry.trace_mode) {
    case TraceMode::kAlways:
      return true;
    case TraceMode::kNever:
      return false;
    case TraceMode::kWithSwitch:
      break;
  }
  return vesk::CommandLine::ForCurrentProcess().HasSwitch(vesk::switches::kEnableInvokeTrace);
}

void VeskJsObjectBase::Run(MemberKind kind, const std::string& key, Call& call) {
  const auto it = name2api_.find(key);
  if (it == name2api_.end() || it->second.kind != kind || it->second.slot < 0) return;
  const Invoke& member = members_[static_cast<size_t>(it->second.slot)];
  if (member) member(call);
}

void VeskJsObjectBase::Execute(const std::string& name, Call& call) {
  const auto it = name2api_.find(name);
  if (it != name2api_.end() && it->second.kind == MemberKind::kFunction && ShouldTrace(it->second))
    VESK_LOG(INFO) << TraceLabel() << "::Execute::" << name << "(" << ArgumentsToString(call.arguments())
                   << ")";
  Run(MemberKind::kFunction, name, call);
}

void VeskJsObjectBase::Get(const std::string& name, Call& call) {
  Run(MemberKind::kGetter, name + "getter", call);
}

void VeskJsObjectBase::Set(const std::string& name, Call& call) {
  const auto it = name2api_.find(name + "setter");
  if (it != name2api_.end() && it->second.kind == MemberKind::kSetter && ShouldTrace(it->second))
    VESK_LOG(INFO) << TraceLabel() << "::Set::" << name << "(" << ValueToString(call[0], 0) << ")";
  Run(MemberKind::kSetter, name + "setter", call);
}

}  // namespace plugin
