#include "plugin_base/plugin.h"

#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace plugin {

void VeskPluginBase::Attach(WebKitWebPage* page, WebKitFrame* frame, JSCContext* context) {
  VESK_REQUIRE_MAIN_THREAD();
  VESK_DCHECK(!name_.empty()) << "You want to attach , but you don't have a name";
  if (!object_) CreateObject(context);
  ValueRef global(jsc_context_get_global_object(context));
  jsc_value_object_set_property(global.get(), name_.c_str(), object_.get());
  page_id_ = page ? webkit_web_page_get_id(page) : 0;
  main_frame_ = frame && webkit_frame_is_main_frame(frame);
}

}  // namespace plugin
