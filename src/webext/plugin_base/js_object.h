// The script-object framework: a native class declares its script members
// (functions and accessor properties) in RegisterApis; CreateObject builds
// the script object; calls from script reach the native members through one
// ordered-map lookup. A member is a function of the object and one Call:
// it reads the call's arguments, sets its return value or throws through
// it. Web process main thread only.
#pragma once

#include <jsc/jsc.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin_base/stored_handler.h"
#include "plugin_base/value_ref.h"

namespace plugin {

class ContextScope;

using Arguments = std::vector<JSCValue*>;

enum class MemberKind { kFunction, kGetter, kSetter };
// Whether a call is written to the log: with the enable-invoke-trace switch,
// always, or never (for members whose arguments are bulk data).
enum class TraceMode { kWithSwitch, kAlways, kNever };

// One registered member.
struct ApiEntry {
  const char* name = nullptr;
  TraceMode trace_mode = TraceMode::kWithSwitch;
  MemberKind kind = MemberKind::kFunction;
  int slot = -1;  // index of the member in the object's table
};

// One invocation of a script member. A setter's call has the assigned value
// as its only argument.
class Call {
 public:
  Call(JSCContext* context, Arguments arguments) : context_(context), arguments_(std::move(arguments)) {}

  JSCContext* context() const { return context_; }
  const Arguments& arguments() const { return arguments_; }
  size_t size() const { return arguments_.size(); }
  // Null past the end.
  JSCValue* operator[](size_t index) const { return index < arguments_.size() ? arguments_[index] : nullptr; }

  // The shared argument checks with their exact messages; each throws and
  // returns false when it fails.
  bool ExpectCount(size_t count);                         // "arguments should have N object(s)"
  bool ExpectMinimumCount(size_t count);                  // "... object(s) at least"
  bool Expect(bool passes, int index, const char* type);  // "arguments[i] should be Type"

  void Return(ValueRef value) { result_ = std::move(value); }
  void ReturnBool(bool value);
  void ReturnNumber(double value);
  void ReturnString(const std::string& value);
  // The page sees an Error with |message|; any return value is dropped.
  void Throw(std::string message) { exception_ = std::move(message); }

  bool threw() const { return !exception_.empty(); }
  const std::string& exception() const { return exception_; }
  // For the channel's calls, which report into a text.
  std::string* exception_slot() { return &exception_; }
  ValueRef TakeResult() { return std::move(result_); }

 private:
  JSCContext* context_;
  Arguments arguments_;
  ValueRef result_;
  std::string exception_;
};

// A property that holds a page's handler kept beyond the object's own
// context (onClose, onUploadFile, a process-wide object's handlers): reads
// and writes follow StoredHandler's origin rule.
enum class Accepts { kFunctions, kAnyValue };
struct HandlerSlot {
  std::function<StoredHandler*()> storage;  // null when there is nowhere to keep it
  Accepts accepts = Accepts::kFunctions;
};

class VeskJsObjectBase : public std::enable_shared_from_this<VeskJsObjectBase> {
 public:
  virtual ~VeskJsObjectBase();

  // Builds the script object in |context| (functions first, then accessor
  // properties, read-only where there is no setter).
  virtual void CreateObject(JSCContext* context);
  // For objects handed out anew on every request (not kept by any native
  // owner): builds the script object and returns it. The script object then
  // owns this object (its functions and accessors hold it) and this object
  // refers to its script object only weakly, so the two go away together
  // once the page lets go of them.
  ValueRef CreateOwnedObject(JSCContext* context);
  // The script object, or empty before CreateObject (or, for an owned
  // object, once the script object was collected).
  ValueRef GetObject() const;
  // Drops the script object and every kept script value, so a page that is
  // gone can be collected.
  virtual void ReleaseScriptValues();

  // Entry points of the engine. A name without such a member leaves the
  // call untouched (the script then sees undefined).
  void Execute(const std::string& name, Call& call);
  void Get(const std::string& name, Call& call);
  void Set(const std::string& name, Call& call);

  const std::map<std::string, ApiEntry>& name2api() const { return name2api_; }
  JSCContext* context() const;

  // The script context this object lives in (ContextScope::Adopt and
  // WrapperOf set it); empty once that context was replaced.
  void set_scope(std::weak_ptr<ContextScope> scope) { scope_ = std::move(scope); }
  std::shared_ptr<ContextScope> scope() const { return scope_.lock(); }

 protected:
  using Invoke = std::function<void(Call&)>;

  VeskJsObjectBase() = default;

  virtual void RegisterApis() = 0;
  // The qualified dispatch label used in traces, e.g.
  // "plugin::VeskJsObject<class plugin::App>".
  virtual std::string TraceLabel() const = 0;

  void AddFunction(const char* name, Invoke function, TraceMode trace_mode);
  void AddProperty(const char* name, Invoke getter, Invoke setter);
  // Reads give the stored handler (undefined when none, or stored by
  // another origin); writes store the value, refusing anything but a
  // function unless the slot accepts any value ("value should be Function").
  void RegisterHandlerProperty(const char* name, HandlerSlot slot);
  // A handler this object keeps for its own context only (released with it).
  void RegisterHandlerProperty(const char* name, ValueRef* storage);

  std::map<std::string, ApiEntry> name2api_;
  ValueRef object_;
  WeakValueRef weak_object_;  // owned objects: object_ stays empty
  bool owned_by_script_ = false;
  GWeakRef context_{};
  std::weak_ptr<ContextScope> scope_;

 private:
  bool ShouldTrace(const ApiEntry& entry) const;
  void Run(MemberKind kind, const std::string& key, Call& call);

  std::vector<Invoke> members_;
};

// Typed registration over a concrete class T: members are functions of a T
// and the call.
template <typename T>
class VeskJsObject : public virtual VeskJsObjectBase {
 public:
  using Member = void (*)(T& self, Call& call);

 protected:
  void RegisterFunction(const char* name, Member function, TraceMode trace_mode = TraceMode::kWithSwitch) {
    AddFunction(name, Bind(function), trace_mode);
  }
  void RegisterProperty(const char* name, Member getter, Member setter = nullptr) {
    AddProperty(name, Bind(getter), setter ? Bind(setter) : Invoke());
  }

  std::string TraceLabel() const override {
    return std::string("plugin::VeskJsObject<class plugin::") + T::kClassName + ">";
  }

 private:
  Invoke Bind(Member member) {
    if (!member) return Invoke();
    return [this, member](Call& call) { member(static_cast<T&>(*this), call); };
  }
};

}  // namespace plugin
