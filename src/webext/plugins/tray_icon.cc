#include "plugins/tray_icon.h"

#include "channel_client.h"
#include "plugin_base/checks.h"

namespace plugin {
namespace {

namespace op = vesk::channel::op;

// The icon is one per process in the UI process: no page of its own.
constexpr guint64 kNoPage = 0;

void Install(TrayIcon&, Call& call) {
  if (call.ExpectCount(0)) AskHost<op::InstallTrayIcon>(kNoPage, call);
}

void Uninstall(TrayIcon&, Call& call) {
  if (call.ExpectCount(0)) AskHost<op::UninstallTrayIcon>(kNoPage, call);
}

// Every member is tested; when several fail, the last message is thrown.
std::string BalloonError(JSCValue* options) {
  const ValueRef title = Member(options, "title");
  const ValueRef text = Member(options, "text");
  const ValueRef icon = Member(options, "icon");
  const ValueRef has_sound = Member(options, "hasSound");
  const ValueRef delay = Member(options, "delayTime");
  std::string message;
  if (!IsUndefined(title.get()) && !IsString(title.get())) message = "title should be string";
  if (!IsUndefined(text.get()) && !IsString(text.get())) message = "text should be string";
  if (!IsString(icon.get())) message = "icon should be a local scheme path";
  if (!IsUndefined(has_sound.get()) && !IsBool(has_sound.get())) message = "hasSound should be boolean";
  if (!IsUndefined(delay.get()) && !IsInt(delay.get())) message = "delayTime should be number";
  return message;
}

void PopBalloon(TrayIcon&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsObject(call[0]), 0, "Object")) return;
  const std::string error = BalloonError(call[0]);
  if (!error.empty()) return call.Throw(error);
  op::PopBalloon::Request request;
  // Absent texts are empty ones.
  const ValueRef title = Member(call[0], "title");
  const ValueRef text = Member(call[0], "text");
  const ValueRef has_sound = Member(call[0], "hasSound");
  const ValueRef delay = Member(call[0], "delayTime");
  if (IsString(title.get())) request.title = ToStdString(title.get());
  if (IsString(text.get())) request.text = ToStdString(text.get());
  request.icon = ToStdString(Member(call[0], "icon").get());
  request.has_sound = IsBool(has_sound.get()) && jsc_value_to_boolean(has_sound.get());
  if (IsInt(delay.get())) request.delay_ms = jsc_value_to_int32(delay.get());
  AskHost<op::PopBalloon>(kNoPage, call, request);
}

void GetIcon(TrayIcon&, Call& call) {
  if (const auto state = AskHost<op::GetTrayIconState>(kNoPage, call)) call.ReturnString(state->icon);
}

void SetIcon(TrayIcon&, Call& call) {
  if (!IsString(call[0])) return call.Throw("value should be String");
  AskHost<op::SetTrayIconImage>(kNoPage, call, {ToStdString(call[0])});
}

void GetToolTip(TrayIcon&, Call& call) {
  if (const auto state = AskHost<op::GetTrayIconState>(kNoPage, call)) call.ReturnString(state->tool_tip);
}

void SetToolTip(TrayIcon&, Call& call) {
  if (!IsString(call[0])) return call.Throw("value should be String");
  AskHost<op::SetTrayToolTip>(kNoPage, call, {ToStdString(call[0])});
}

void GetWasInstall(TrayIcon&, Call& call) {
  if (const auto state = AskHost<op::GetTrayIconState>(kNoPage, call)) call.ReturnBool(state->installed);
}

}  // namespace

void TrayIcon::ReleaseScriptValues() {
  click_handler_.reset();
  VeskJsObjectBase::ReleaseScriptValues();
}

void TrayIcon::RegisterApis() {
  RegisterFunction("install", Install);
  RegisterFunction("uninstall", Uninstall);
  RegisterFunction("popBalloon", PopBalloon);
  RegisterProperty("icon", GetIcon, SetIcon);
  RegisterProperty("toolTip", GetToolTip, SetToolTip);
  RegisterHandlerProperty("onClick", &click_handler_);
  RegisterProperty("wasInstall", GetWasInstall);
}

}  // namespace plugin
