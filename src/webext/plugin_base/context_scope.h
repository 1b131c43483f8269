// One script context as the script objects see it: its origin, its page and
// frame, its window-level objects and its own wrappers of the process-wide
// objects (the error handler, the tray icon, the proxy helper).
//
// A script value belongs to the context that made it. Handing a value of
// the main page's context to a frame of another origin would give that frame
// the main page's Function (through .constructor) and so the main page's
// powers. So a process-wide object keeps one native state, and every context
// that asks for it gets a wrapper of its own, made in that context: the same
// wrapper on every request within the context, a different one elsewhere.
// Web process main thread only.
#pragma once

#include <jsc/jsc.h>

#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "plugin_base/js_object.h"

namespace plugin {

class ContextScope : public std::enable_shared_from_this<ContextScope> {
 public:
  // |origin| as the context's document reports it ("null" for an opaque one).
  static std::shared_ptr<ContextScope> New(std::string origin, guint64 page_id, bool main_frame) {
    return std::shared_ptr<ContextScope>(new ContextScope(std::move(origin), page_id, main_frame));
  }

  const std::string& origin() const { return origin_; }
  guint64 page_id() const { return page_id_; }
  bool main_frame() const { return main_frame_; }

  // Keeps a window-level object of this context until Release.
  void Adopt(std::shared_ptr<VeskJsObjectBase> object);

  // This context's script object for the process-wide T: made by
  // T::NewWrapper() on the first request in this context, the same object
  // afterwards. T keeps its native state elsewhere (shared by all wrappers);
  // the wrapper only fronts it.
  template <typename T>
  ValueRef WrapperOf(JSCContext* context) {
    std::shared_ptr<VeskJsObjectBase>& wrapper = wrappers_[std::type_index(typeid(T))];
    if (!wrapper) {
      std::shared_ptr<T> made = T::NewWrapper();
      made->set_scope(weak_from_this());
      made->CreateObject(context);
      wrapper = std::move(made);
    }
    return wrapper->GetObject();
  }

  // The context is replaced or its page is gone: every object lets go of
  // its script values so the context can be collected.
  void Release();
  // After Release: the context's document is gone, and nothing of it may
  // run any more.
  bool released() const { return released_; }

 private:
  ContextScope(std::string origin, guint64 page_id, bool main_frame)
      : origin_(std::move(origin)), page_id_(page_id), main_frame_(main_frame) {}

  const std::string origin_;
  const guint64 page_id_;
  const bool main_frame_;
  bool released_ = false;
  std::vector<std::shared_ptr<VeskJsObjectBase>> objects_;
  std::map<std::type_index, std::shared_ptr<VeskJsObjectBase>> wrappers_;
};

}  // namespace plugin
