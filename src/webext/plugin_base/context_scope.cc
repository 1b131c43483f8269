#include "plugin_base/context_scope.h"

namespace plugin {

void ContextScope::Adopt(std::shared_ptr<VeskJsObjectBase> object) {
  object->set_scope(weak_from_this());
  objects_.push_back(std::move(object));
}

void ContextScope::Release() {
  released_ = true;
  for (auto& object : objects_) object->ReleaseScriptValues();
  for (auto& [type, wrapper] : wrappers_) wrapper->ReleaseScriptValues();
  objects_.clear();
  wrappers_.clear();
}

}  // namespace plugin
