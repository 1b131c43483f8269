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

// The members of popBalloon's argument, each read once.
struct BalloonOptions {
  ValueRef title, text, icon, has_sound, delay;
  explicit BalloonOptions(JSCValue* options)
      : title(Member(options, "title")),
        text(Member(options, "text")),
        icon(Member(options, "icon")),
        has_sound(Member(options, "hasSound")),
        delay(Member(options, "delayTime")) {}
};

// Every member is tested; when several fail, the last message is thrown.
std::string BalloonError(const BalloonOptions& options) {
  std::string message;
  if (!IsUndefined(options.title.get()) && !IsString(options.title.get())) message = "title should be string";
  if (!IsUndefined(options.text.get()) && !IsString(options.text.get())) message = "text should be string";
  if (!IsString(options.icon.get())) message = "icon should be a local scheme path";
  if (!IsUndefined(options.has_sound.get()) && !IsBool(options.has_sound.get()))
    message = "hasSound should be boolean";
  if (!IsUndefined(options.delay.get()) && !IsInt(options.delay.get()))
    message = "delayTime should be number";
  return message;
}

void PopBalloon(TrayIcon&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsObject(call[0]), 0, "Object")) return;
  const BalloonOptions options(call[0]);
  const std::string error = BalloonError(options);
  if (!error.empty()) return call.Throw(error);
  op::PopBalloon::Request request;
  // Absent texts are empty ones; an absent delay is 0.
  if (IsString(options.title.get())) request.title = ToStdString(options.title.get());
  if (IsString(options.text.get())) request.text = ToStdString(options.text.get());
  request.icon = ToStdString(options.icon.get());
  request.has_sound = IsBool(options.has_sound.get()) && jsc_value_to_boolean(options.has_sound.get());
  if (IsInt(options.delay.get())) request.delay_ms = jsc_value_to_int32(options.delay.get());
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
