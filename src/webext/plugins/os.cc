#include "plugins/os.h"

#include "channel_client.h"

namespace plugin {
namespace {

namespace op = vesk::channel::op;

void IsAeroStyleEnabled(Os& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (const auto result = AskHost<op::IsAeroStyleEnabled>(self.page_id(), call))
    call.ReturnBool(result->enabled);
}

void NavigateExternal(Os& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  // The host opens it on a worker; nothing of the outcome reaches the page.
  std::string ignored;
  AskHost<op::NavigateExternal>(self.page_id(), {ToStdString(call[0])}, &ignored);
}

void HasFullScreenWindow(Os& self, Call& call) {
  if (const auto result = AskHost<op::HasFullScreenWindow>(self.page_id(), call))
    call.ReturnBool(result->fullscreen);
}

void GetSystemInfo(Os& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const std::string what = ToStdString(call[0]);
  if (what == "desktop") {
    const auto result = AskHost<op::GetWorkArea>(self.page_id(), call);
    if (!result) return;
    const vesk::WindowRect& r = result->area;
    ValueRef info(jsc_value_new_object(call.context(), nullptr, nullptr));
    ValueRef area = NewRectangleValue(call.context(), r.left, r.top, r.right, r.bottom);
    DefineReadOnly(info.get(), "workArea", area.get());
    call.Return(std::move(info));
  } else if (what == "lastInputInfo") {
    if (const auto result = AskHost<op::GetLastInputTime>(self.page_id(), call))
      call.ReturnNumber(result->milliseconds);
  }
}

}  // namespace

void Os::RegisterApis() {
  RegisterFunction("isAeroStyleEnabled", IsAeroStyleEnabled);
  RegisterFunction("navigateExternal", NavigateExternal);
  RegisterFunction("hasFullScreenWindow", HasFullScreenWindow);
  RegisterFunction("getSystemInfo", GetSystemInfo);
  RegisterHandlerProperty("onAeroStyleChanged", &aero_style_changed_handler_);
}

void Os::ReleaseScriptValues() {
  aero_style_changed_handler_.reset();
  VeskJsObjectBase::ReleaseScriptValues();
}

}  // namespace plugin
