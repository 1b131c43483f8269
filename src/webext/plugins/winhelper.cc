#include "plugins/winhelper.h"

#include <glib.h>

#include "channel_client.h"
#include "extension_state.h"
#include "page_handlers.h"
#include "vesk/core/command_line.h"
#include "vesk/core/package/url_content.h"

namespace plugin {
namespace {

namespace op = vesk::channel::op;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(g_ascii_tolower(c));
  return text;
}

// A position member as the page gave it: absent, a whole number, or
// present with the wrong type.
vesk::PositionRequest::IntValue IntMember(JSCValue* options, const char* name) {
  ValueRef member(Member(options, name));
  if (IsUndefined(member.get())) return {};
  if (!IsInt(member.get())) return {vesk::PositionRequest::Type::kWrongType, 0};
  return {vesk::PositionRequest::Type::kValid, static_cast<int>(jsc_value_to_double(member.get()))};
}

vesk::PositionRequest::BoolValue BoolMember(JSCValue* options, const char* name) {
  ValueRef member(Member(options, name));
  if (IsUndefined(member.get())) return {};
  if (!IsBool(member.get())) return {vesk::PositionRequest::Type::kWrongType, false};
  return {vesk::PositionRequest::Type::kValid, static_cast<bool>(jsc_value_to_boolean(member.get()))};
}

void BringWindowToTop(Winhelper& self, Call& call) { AskHost<op::BringWindowToTop>(self.page_id(), call); }

void DragWindow(Winhelper& self, Call& call) {
  if (call.ExpectCount(0)) AskHost<op::DragWindow>(self.page_id(), call);
}

void GetWindowOpacity(Winhelper& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  if (const auto result = AskHost<op::GetWindowOpacity>(self.page_id(), call))
    call.ReturnNumber(result->opacity);
}

// The launch flags, each absent (false) or a boolean.
bool ReadLaunchFlags(JSCValue* options, op::LaunchWindow::Request* launch, Call& call) {
  std::string flag_error;
  const std::pair<const char*, bool*> flags[] = {{"visible", &launch->visible},
                                                 {"resizable", &launch->resizable},
                                                 {"taskbarButton", &launch->taskbar_button}};
  for (const auto& [flag, value] : flags) {
    ValueRef member = Member(options, flag);
    if (IsBool(member.get()))
      *value = jsc_value_to_boolean(member.get());
    else if (!IsUndefined(member.get()))
      flag_error = std::string(flag) + " should only be boolean";
  }
  if (!flag_error.empty()) call.Throw(flag_error);
  return flag_error.empty();
}

void LaunchWindow(Winhelper& self, Call& call) {
  if (!call.ExpectCount(3) || !call.Expect(IsString(call[0]), 0, "String") ||
      !call.Expect(IsObject(call[1]), 1, "Object") || !call.Expect(IsObject(call[2]), 2, "Object"))
    return;
  ValueRef x = Member(call[1], "x"), y = Member(call[1], "y");
  ValueRef width = Member(call[1], "width"), height = Member(call[1], "height");
  const std::pair<JSCValue*, const char*> numbers[] = {{x.get(), "x should be Number"},
                                                       {y.get(), "y should be Number"},
                                                       {width.get(), "width should be Number"},
                                                       {height.get(), "height should be Number"}};
  for (const auto& [value, message] : numbers)
    if (!IsNumber(value)) return call.Throw(message);
  op::LaunchWindow::Request launch;
  if (!ReadLaunchFlags(call[2], &launch, call)) return;
  const int left = jsc_value_to_int32(x.get()), top = jsc_value_to_int32(y.get());
  launch.url = ToStdString(call[0]);
  launch.rect = {left, top, left + jsc_value_to_int32(width.get()), top + jsc_value_to_int32(height.get())};
  if (!self.engine_open()) return call.Throw("LaunchWindow Failed.");
  if (!AskHost<op::LaunchWindow>(self.page_id(), call, launch)) return;
  // The engine's own synchronous road gives the new window's global object;
  // the host recognises the launch it was just told about.
  ValueRef global(jsc_context_get_global_object(call.context()));
  ValueRef url(jsc_value_new_string(call.context(), launch.url.c_str()));
  ValueRef target(jsc_value_new_string(call.context(), "_blank"));
  JSCValue* open_arguments[] = {global.get(), url.get(), target.get()};
  // open.call(window, url, "_blank")
  ValueRef opened(jsc_value_object_invoke_methodv(self.engine_open(), "call", 3, open_arguments));
  // Whatever came of it, the announcement serves this launch only.
  std::string ignored;
  AskHost<op::EndLaunch>(self.page_id(), {}, &ignored);
  if (!opened || !jsc_value_is_object(opened.get())) {
    // The engine's own exception (an invalid URL) gives way to ours.
    jsc_context_clear_exception(call.context());
    return call.Throw("LaunchWindow Failed.");
  }
  call.Return(std::move(opened));
}

void PopUpMenu(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  AskHost<op::PopUpMenu>(self.page_id(), call, {ToStdString(call[0])});
}

void GetWindowPosition(Winhelper& self, Call& call) {
  if (!call.ExpectCount(0)) return;
  const auto result = AskHost<op::GetWindowPosition>(self.page_id(), call);
  if (!result) return;
  const vesk::WindowRect& r = result->rect;
  ValueRef rect = NewRectangleValue(call.context(), r.left, r.top, r.right, r.bottom);
  ValueRef topmost(jsc_value_new_boolean(call.context(), result->topmost));
  DefineReadOnly(rect.get(), "topmost", topmost.get());
  call.Return(std::move(rect));
}

void GetWindowInfo(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  if (ToStdString(call[0]) != "status") return;
  const auto result = AskHost<op::GetWindowInfo>(self.page_id(), call);
  if (!result) return;
  ValueRef info(jsc_value_new_object(call.context(), nullptr, nullptr));
  ValueRef visible(jsc_value_new_boolean(call.context(), result->visible));
  ValueRef status(jsc_value_new_string(call.context(), result->status.c_str()));
  DefineReadOnly(info.get(), "visible", visible.get());
  DefineReadOnly(info.get(), "status", status.get());
  call.Return(std::move(info));
}

void SetWindowOpacity(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsNumber(call[0]), 0, "Number")) return;
  const double opacity = jsc_value_to_double(call[0]);
  // NaN leaves the window alone; infinities are numbers like any other.
  if (!std::isnan(opacity)) AskHost<op::SetWindowOpacity>(self.page_id(), call, {opacity});
}

void SetWindowSizeLimit(Winhelper& self, Call& call) {
  if (!call.ExpectCount(2)) return;
  for (size_t index = 0; index < 2; ++index) {
    JSCValue* limit = call[index];
    if (IsUndefined(limit)) continue;
    ValueRef x = Member(limit, "x"), y = Member(limit, "y");
    if (!IsNumber(x.get())) return call.Throw("x should be Number");
    if (!IsNumber(y.get())) return call.Throw("y should be Number");
    const op::SetWindowSizeLimit::Request request{jsc_value_to_int32(x.get()), jsc_value_to_int32(y.get()),
                                                  index == 1};
    if (!AskHost<op::SetWindowSizeLimit>(self.page_id(), call, request)) return;
  }
}

void SetWindowPosition(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsObject(call[0]), 0, "Object")) return;
  op::SetWindowPosition::Request request;
  vesk::PositionRequest& position = request.position;
  position.x = IntMember(call[0], "x");
  position.y = IntMember(call[0], "y");
  position.width = IntMember(call[0], "width");
  position.height = IntMember(call[0], "height");
  position.topmost = BoolMember(call[0], "topmost");
  position.active = BoolMember(call[0], "active");
  const auto result = AskHost<op::SetWindowPosition>(self.page_id(), call, request);
  if (result && !result->error.empty()) call.Throw(result->error);
}

void SetWindowTitle(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  AskHost<op::SetWindowTitle>(self.page_id(), call, {ToStdString(call[0])});
}

void SetWindowIconFromLocalFile(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  std::string path;
  if (!vesk::DumpUrlToTempFile(ToStdString(call[0]), ExtensionState::Get().program_dir,
                               vesk::CommandLine::ForCurrentProcess(), g_get_tmp_dir(), &path))
    return;  // content that cannot be written changes nothing, silently
  AskHost<op::SetWindowIcon>(self.page_id(), call, {path});
}

void ShowWindow(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const auto command = vesk::channel::FromName<vesk::channel::ShowCommand>(Lower(ToStdString(call[0])));
  if (!command) return call.Throw("Invalid parameters");
  AskHost<op::ShowWindow>(self.page_id(), call, {*command});
}

void SizeWindow(Winhelper& self, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const auto result = AskHost<op::SizeWindow>(self.page_id(), call, {Lower(ToStdString(call[0]))});
  // A minimised or maximised window is left alone and no name is tested.
  if (result && result->known == false) call.Throw("Invalid parameters");
}

}  // namespace

void Winhelper::RegisterApis() {
  RegisterFunction("bringWindowToTop", BringWindowToTop);
  RegisterFunction("dragWindow", DragWindow);
  RegisterFunction("getWindowOpacity", GetWindowOpacity);
  RegisterFunction("launchWindow", LaunchWindow);
  RegisterFunction("popUpMenu", PopUpMenu);
  RegisterFunction("getWindowPosition", GetWindowPosition);
  RegisterFunction("getWindowInfo", GetWindowInfo);
  RegisterFunction("setWindowOpacity", SetWindowOpacity);
  RegisterFunction("setWindowSizeLimit", SetWindowSizeLimit);
  RegisterFunction("setWindowPosition", SetWindowPosition);
  RegisterFunction("setWindowTitle", SetWindowTitle);
  RegisterFunction("setWindowIconFromLocalFile", SetWindowIconFromLocalFile);
  RegisterFunction("showWindow", ShowWindow);
  RegisterFunction("sizeWindow", SizeWindow);
  RegisterHandlerProperty("onMenuClick", &menu_click_handler_);
  RegisterHandlerProperty("onLoseFocus", &lose_focus_handler_);
  // The page is known only once the object is attached.
  RegisterHandlerProperty("onClose", HandlerSlot{[this] { return CloseHandlers::Get().Slot(page_id_); }});
}

void Winhelper::Attach(WebKitWebPage* page, WebKitFrame* frame, JSCContext* context) {
  VeskPlugin<Winhelper>::Attach(page, frame, context);
  // Attached before any script of the page runs: this is the engine's.
  ValueRef global(jsc_context_get_global_object(context));
  ValueRef open(jsc_value_object_get_property(global.get(), "open"));
  if (open && jsc_value_is_function(open.get())) engine_open_ = std::move(open);
}

void Winhelper::ReleaseScriptValues() {
  menu_click_handler_.reset();
  lose_focus_handler_.reset();
  engine_open_.reset();
  VeskJsObjectBase::ReleaseScriptValues();
}

}  // namespace plugin
