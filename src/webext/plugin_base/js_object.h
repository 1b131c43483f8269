// The script-object framework: a native class declares its script members
// (functions and accessor properties) in RegisterApis; CreateObject builds
// the script object; calls from script reach the native members through one
// ordered-map lookup. Members report errors by filling |exception|; the
// page then sees a thrown Error with that message.
#pragma once

#include <jsc/jsc.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace plugin {

using Arguments = std::vector<JSCValue*>;

// One registered member.
struct ApiEntry {
  const char* name = nullptr;
  int trace_mode = 0;  // 0: with enable-invoke-trace; 1: always; other: never
  int type = 0;        // 0: function, 1: getter, 2: setter
  int slot = -1;       // index of the member in the concrete class's table
};

class VeskJsObjectBase : public std::enable_shared_from_this<VeskJsObjectBase> {
 public:
  virtual ~VeskJsObjectBase();

  // Builds the script object in |context| (functions first, then accessor
  // properties, read-only where there is no setter).
  virtual void CreateObject(JSCContext* context);
  // For objects handed out anew on every request (not kept by any native
  // owner): builds the script object and returns it (a new reference). The
  // script object then owns this object (its functions and accessors hold
  // it) and this object refers to its script object only weakly, so the two
  // go away together once the page lets go of them.
  JSCValue* CreateOwnedObject(JSCContext* context);
  // The script object (a new reference), or null before CreateObject (or,
  // for an owned object, once the script object was collected).
  JSCValue* GetObject() const;
  // Drops the script object and every kept script value, so a page that is
  // gone can be collected.
  virtual void ReleaseScriptValues();

  // Entry points of the engine. Each returns false when no member handled
  // the call (the script then sees undefined).
  bool Execute(const std::string& name, JSCValue* object, const Arguments& arguments, JSCValue** retval,
               std::string* exception);
  bool Get(const std::string& name, JSCValue* object, JSCValue** retval, std::string* exception);
  bool Set(const std::string& name, JSCValue* object, JSCValue* value, std::string* exception);

  const std::map<std::string, ApiEntry>& name2api() const { return name2api_; }
  JSCContext* context() const;

 protected:
  VeskJsObjectBase() = default;

  virtual void RegisterApis() = 0;
  // The qualified dispatch label used in traces, e.g.
  // "plugin::VeskJsObject<class plugin::App>".
  virtual std::string TraceLabel() const = 0;
  virtual bool InvokeFunction(int slot, JSCValue* object, const Arguments& arguments, JSCValue** retval,
                              std::string* exception) = 0;
  virtual bool InvokeGetter(int slot, JSCValue* object, JSCValue** retval, std::string* exception) = 0;
  virtual bool InvokeSetter(int slot, JSCValue* object, JSCValue* value, std::string* exception) = 0;

  void AddEntry(const std::string& key, ApiEntry entry);

  std::map<std::string, ApiEntry> name2api_;
  JSCValue* object_ = nullptr;
  JSCWeakValue* weak_object_ = nullptr;  // owned objects: object_ stays null
  bool owned_by_script_ = false;
  GWeakRef context_{};

 private:
  bool ShouldTrace(const ApiEntry& entry) const;
};

// Typed registration over a concrete class T.
template <typename T>
class VeskJsObject : public virtual VeskJsObjectBase {
 public:
  using Function = bool (T::*)(JSCValue* object, const Arguments& arguments, JSCValue** retval,
                               std::string* exception);
  using Getter = bool (T::*)(JSCValue* object, JSCValue** retval, std::string* exception);
  using Setter = bool (T::*)(JSCValue* object, JSCValue* value, std::string* exception);

 protected:
  void RegisterFunction(const char* name, Function method, int trace_mode = 0);
  void RegisterProperty(const char* name, Getter getter, Setter setter);

  std::string TraceLabel() const override {
    return std::string("plugin::VeskJsObject<class plugin::") + T::kClassName + ">";
  }
  bool InvokeFunction(int slot, JSCValue* object, const Arguments& arguments, JSCValue** retval,
                      std::string* exception) override {
    const Function method = functions_[static_cast<size_t>(slot)];
    return method && (static_cast<T*>(this)->*method)(object, arguments, retval, exception);
  }
  bool InvokeGetter(int slot, JSCValue* object, JSCValue** retval, std::string* exception) override {
    const Getter method = getters_[static_cast<size_t>(slot)];
    return method && (static_cast<T*>(this)->*method)(object, retval, exception);
  }
  bool InvokeSetter(int slot, JSCValue* object, JSCValue* value, std::string* exception) override {
    const Setter method = setters_[static_cast<size_t>(slot)];
    return method && (static_cast<T*>(this)->*method)(object, value, exception);
  }

 private:
  std::vector<Function> functions_;
  std::vector<Getter> getters_;
  std::vector<Setter> setters_;
};

void ReportDuplicateRegistration(const std::map<std::string, ApiEntry>& name2api, const char* name);
void ReportNullGetter();

template <typename T>
void VeskJsObject<T>::RegisterFunction(const char* name, Function method, int trace_mode) {
  ReportDuplicateRegistration(name2api_, name);
  functions_.push_back(method);
  AddEntry(name, ApiEntry{name, trace_mode, 0, static_cast<int>(functions_.size() - 1)});
}

template <typename T>
void VeskJsObject<T>::RegisterProperty(const char* name, Getter getter, Setter setter) {
  ReportDuplicateRegistration(name2api_, name);
  if (!getter) ReportNullGetter();
  getters_.push_back(getter);
  AddEntry(std::string(name) + "getter", ApiEntry{name, 0, 1, static_cast<int>(getters_.size() - 1)});
  if (setter) {
    setters_.push_back(setter);
    AddEntry(std::string(name) + "setter", ApiEntry{name, 0, 2, static_cast<int>(setters_.size() - 1)});
  }
}

}  // namespace plugin
