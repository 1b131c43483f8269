// Page functions the native side keeps beyond one context: the instance-
// message handlers, the close handler, a process-wide object's handlers.
//
// A stored value belongs to the origin of the context that stored it. Its
// getter gives it only to contexts of that origin (any other sees
// undefined), and only that origin, or a page's main frame, may replace it:
// a frame of another origin can neither reach the main page's function (and
// through it the main page's Function) nor take over its handlers. It is
// always called in its own context, with values made there.
// Web process main thread only.
#pragma once

#include <jsc/jsc.h>

#include <memory>
#include <string>
#include <vector>

#include "plugin_base/value_ref.h"

namespace plugin {

class ContextScope;

class StoredHandler {
 public:
  // The value for a reader in |reader|; empty for a reader of another origin
  // or none (a context that is gone).
  ValueRef ReadFrom(const ContextScope* reader) const;
  // Stores |value| (null clears) for |writer|. False, nothing changed, when
  // the value stored belongs to another origin and |writer| is not a main
  // frame.
  bool WriteFrom(const ContextScope* writer, JSCValue* value);
  // The value itself, for calling it; empty when none.
  ValueRef value() const { return ValueRef::Share(value_.get()); }
  const std::string& origin() const { return origin_; }
  // The context that stored the value; empty when none is stored or that
  // context was replaced or its page is gone.
  std::shared_ptr<const ContextScope> LiveOwner() const;
  void Clear();

 private:
  ValueRef value_;
  std::string origin_;
  std::weak_ptr<const ContextScope> owner_;
};

// Calls |function| in its own context with |this_value| (null: none) and
// |arguments|, which must be made in that context. The function may replace
// or clear whatever stored it: the call holds its own references. An
// exception is logged with |what| and cleared. Empty when |function| is not
// a function or threw.
ValueRef CallInOwnContext(const ValueRef& function, JSCValue* this_value,
                          const std::vector<JSCValue*>& arguments, const char* what);

}  // namespace plugin
