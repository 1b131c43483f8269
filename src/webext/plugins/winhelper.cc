#include "plugins/winhelper.h"

#include <glib.h>

#include "channel_client.h"
#include "extension_state.h"
#include "page_handlers.h"
#include "vesk/core/command_line.h"
#include "vesk/core/package/url_content.h"

namespace plugin {
namespace {

using vesk::channel::Op;

JSCContext* Current() { return jsc_context_get_current(); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(g_ascii_tolower(c));
  return text;
}

// A position member as the host wants it: absent, a whole number, or a
// marker for "present but of the wrong type".
void PutIntMember(Json::Value* args, JSCValue* options, const char* name) {
  ValueRef member(Member(options, name));
  if (IsUndefined(member.get())) return;
  (*args)[name] = IsInt(member.get()) ? Json::Value(static_cast<int>(jsc_value_to_double(member.get())))
                                      : Json::Value("wrong type");
}

void PutBoolMember(Json::Value* args, JSCValue* options, const char* name) {
  ValueRef member(Member(options, name));
  if (IsUndefined(member.get())) return;
  (*args)[name] = IsBool(member.get()) ? Json::Value(static_cast<bool>(jsc_value_to_boolean(member.get())))
                                       : Json::Value("wrong type");
}

}  // namespace

void Winhelper::RegisterApis() {
  RegisterFunction("bringWindowToTop", &Winhelper::BringWindowToTop);
  RegisterFunction("dragWindow", &Winhelper::DragWindow);
  RegisterFunction("getWindowOpacity", &Winhelper::GetWindowOpacity);
  RegisterFunction("launchWindow", &Winhelper::LaunchWindow);
  RegisterFunction("popUpMenu", &Winhelper::PopUpMenu);
  RegisterFunction("getWindowPosition", &Winhelper::GetWindowPosition);
  RegisterFunction("getWindowInfo", &Winhelper::GetWindowInfo);
  RegisterFunction("setWindowOpacity", &Winhelper::SetWindowOpacity);
  RegisterFunction("setWindowSizeLimit", &Winhelper::SetWindowSizeLimit);
  RegisterFunction("setWindowPosition", &Winhelper::SetWindowPosition);
  RegisterFunction("setWindowTitle", &Winhelper::SetWindowTitle);
  RegisterFunction("setWindowIconFromLocalFile", &Winhelper::SetWindowIconFromLocalFile);
  RegisterFunction("showWindow", &Winhelper::ShowWindow);
  RegisterFunction("sizeWindow", &Winhelper::SizeWindow);
  RegisterProperty("onMenuClick", &Winhelper::GetOnMenuClick, &Winhelper::SetOnMenuClick);
  RegisterProperty("onLoseFocus", &Winhelper::GetOnLoseFocus, &Winhelper::SetOnLoseFocus);
  RegisterProperty("onClose", &Winhelper::GetOnClose, &Winhelper::SetOnClose);
}

void Winhelper::ReleaseScriptValues() {
  menu_click_handler_.reset();
  lose_focus_handler_.reset();
  VeskJsObjectBase::ReleaseScriptValues();
}

bool Winhelper::BringWindowToTop(JSCValue*, const Arguments&, JSCValue**, std::string* exception) {
  CallHost(Op::kWinBringToTop, page_id_, Json::Value(Json::objectValue), exception);
  return true;
}

bool Winhelper::DragWindow(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  CallHost(Op::kWinDragWindow, page_id_, Json::Value(Json::objectValue), exception);
  return true;
}

bool Winhelper::GetWindowOpacity(JSCValue*, const Arguments& arguments, JSCValue** retval,
                                 std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  const auto result = CallHost(Op::kWinGetOpacity, page_id_, Json::Value(Json::objectValue), exception);
  if (result) *retval = jsc_value_new_number(Current(), (*result)["opacity"].asDouble());
  return true;
}

bool Winhelper::LaunchWindow(JSCValue*, const Arguments& arguments, JSCValue** retval,
                             std::string* exception) {
  if (!CheckCount(arguments, 3, exception) ||
      !CheckArgument(IsString(arguments[0]), 0, "String", exception) ||
      !CheckArgument(IsObject(arguments[1]), 1, "Object", exception) ||
      !CheckArgument(IsObject(arguments[2]), 2, "Object", exception))
    return true;
  ValueRef x(Member(arguments[1], "x")), y(Member(arguments[1], "y"));
  ValueRef width(Member(arguments[1], "width")), height(Member(arguments[1], "height"));
  const std::pair<JSCValue*, const char*> numbers[] = {{x.get(), "x should be Number"},
                                                       {y.get(), "y should be Number"},
                                                       {width.get(), "width should be Number"},
                                                       {height.get(), "height should be Number"}};
  for (const auto& [value, message] : numbers) {
    if (!IsNumber(value)) {
      *exception = message;
      return true;
    }
  }
  Json::Value args(Json::objectValue);
  std::string flag_error;
  for (const char* flag : {"visible", "resizable", "taskbarButton"}) {
    ValueRef member(Member(arguments[2], flag));
    if (IsUndefined(member.get())) {
      args[flag] = false;
    } else if (IsBool(member.get())) {
      args[flag] = static_cast<bool>(jsc_value_to_boolean(member.get()));
    } else {
      flag_error = std::string(flag) + " should only be boolean";
    }
  }
  if (!flag_error.empty()) {
    *exception = flag_error;
    return true;
  }
  const std::string url = ToStdString(arguments[0]);
  const int left = jsc_value_to_int32(x.get()), top = jsc_value_to_int32(y.get());
  args["url"] = url;
  args["left"] = left;
  args["top"] = top;
  args["right"] = left + jsc_value_to_int32(width.get());
  args["bottom"] = top + jsc_value_to_int32(height.get());
  if (!CallHost(Op::kWinLaunchWindow, page_id_, args, exception)) return true;
  // The engine's own synchronous road gives the new window's global object;
  // the host recognises the launch it was just told about.
  JSCValue* global = jsc_context_get_global_object(Current());
  JSCValue* url_value = jsc_value_new_string(Current(), url.c_str());
  JSCValue* target = jsc_value_new_string(Current(), "_blank");
  JSCValue* open_arguments[] = {url_value, target};
  JSCValue* opened = jsc_value_object_invoke_methodv(global, "open", 2, open_arguments);
  g_object_unref(target);
  g_object_unref(url_value);
  g_object_unref(global);
  if (!opened || !jsc_value_is_object(opened)) {
    if (opened) g_object_unref(opened);
    *exception = "LaunchWindow Failed.";
    return true;
  }
  *retval = opened;
  return true;
}

bool Winhelper::PopUpMenu(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  Json::Value args(Json::objectValue);
  args["json"] = ToStdString(arguments[0]);
  CallHost(Op::kWinPopUpMenu, page_id_, args, exception);
  return true;
}

bool Winhelper::GetWindowPosition(JSCValue*, const Arguments& arguments, JSCValue** retval,
                                  std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  const auto result = CallHost(Op::kWinGetPosition, page_id_, Json::Value(Json::objectValue), exception);
  if (!result) return true;
  const Json::Value& r = *result;
  JSCValue* rect = NewRectangleValue(Current(), r["left"].asInt(), r["top"].asInt(), r["right"].asInt(),
                                     r["bottom"].asInt());
  JSCValue* topmost = jsc_value_new_boolean(Current(), r["topmost"].asBool());
  DefineReadOnly(rect, "topmost", topmost);
  g_object_unref(topmost);
  *retval = rect;
  return true;
}

bool Winhelper::GetWindowInfo(JSCValue*, const Arguments& arguments, JSCValue** retval,
                              std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  if (ToStdString(arguments[0]) != "status") return true;
  const auto result = CallHost(Op::kWinGetWindowInfo, page_id_, Json::Value(Json::objectValue), exception);
  if (!result) return true;
  JSCValue* info = jsc_value_new_object(Current(), nullptr, nullptr);
  JSCValue* visible = jsc_value_new_boolean(Current(), (*result)["visible"].asBool());
  JSCValue* status = jsc_value_new_string(Current(), (*result)["status"].asString().c_str());
  DefineReadOnly(info, "visible", visible);
  DefineReadOnly(info, "status", status);
  g_object_unref(visible);
  g_object_unref(status);
  *retval = info;
  return true;
}

bool Winhelper::SetWindowOpacity(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsNumber(arguments[0]), 0, "Number", exception))
    return true;
  Json::Value args(Json::objectValue);
  const double opacity = jsc_value_to_double(arguments[0]);
  // JSON has no NaN or infinities; those leave the window alone.
  if (!std::isfinite(opacity)) return true;
  args["opacity"] = opacity;
  CallHost(Op::kWinSetOpacity, page_id_, args, exception);
  return true;
}

bool Winhelper::SetWindowSizeLimit(JSCValue*, const Arguments& arguments, JSCValue**,
                                   std::string* exception) {
  if (!CheckCount(arguments, 2, exception)) return true;
  for (int index = 0; index < 2; ++index) {
    JSCValue* limit = arguments[static_cast<size_t>(index)];
    if (IsUndefined(limit)) continue;
    ValueRef x(Member(limit, "x")), y(Member(limit, "y"));
    if (!IsNumber(x.get())) {
      *exception = "x should be Number";
      return true;
    }
    if (!IsNumber(y.get())) {
      *exception = "y should be Number";
      return true;
    }
    Json::Value args(Json::objectValue);
    args["width"] = jsc_value_to_int32(x.get());
    args["height"] = jsc_value_to_int32(y.get());
    args["maximum"] = index == 1;
    if (!CallHost(Op::kWinSetSizeLimit, page_id_, args, exception)) return true;
  }
  return true;
}

bool Winhelper::SetWindowPosition(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsObject(arguments[0]), 0, "Object", exception))
    return true;
  Json::Value args(Json::objectValue);
  for (const char* name : {"x", "y", "width", "height"}) PutIntMember(&args, arguments[0], name);
  for (const char* name : {"topmost", "active"}) PutBoolMember(&args, arguments[0], name);
  const auto result = CallHost(Op::kWinSetPosition, page_id_, args, exception);
  if (result && !(*result)["error"].asString().empty()) *exception = (*result)["error"].asString();
  return true;
}

bool Winhelper::SetWindowTitle(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  Json::Value args(Json::objectValue);
  args["title"] = ToStdString(arguments[0]);
  CallHost(Op::kWinSetTitle, page_id_, args, exception);
  return true;
}

bool Winhelper::SetWindowIconFromLocalFile(JSCValue*, const Arguments& arguments, JSCValue**,
                                           std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  std::string path;
  if (!vesk::DumpUrlToTempFile(ToStdString(arguments[0]), ExtensionState::Get().program_dir,
                               vesk::CommandLine::ForCurrentProcess(), g_get_tmp_dir(), &path))
    return true;  // content that cannot be written changes nothing, silently
  Json::Value args(Json::objectValue);
  args["path"] = path;
  CallHost(Op::kWinSetIcon, page_id_, args, exception);
  return true;
}

bool Winhelper::ShowWindow(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  const std::string command = Lower(ToStdString(arguments[0]));
  if (command != "show" && command != "hide" && command != "restore" && command != "minimize" &&
      command != "maximize") {
    *exception = "Invalid parameters";
    return true;
  }
  Json::Value args(Json::objectValue);
  args["command"] = command;
  CallHost(Op::kWinShowWindow, page_id_, args, exception);
  return true;
}

bool Winhelper::SizeWindow(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  Json::Value args(Json::objectValue);
  args["edge"] = Lower(ToStdString(arguments[0]));
  const auto result = CallHost(Op::kWinSizeWindow, page_id_, args, exception);
  // A minimised or maximised window is left alone and no name is tested.
  if (result && result->isMember("known") && !(*result)["known"].asBool()) *exception = "Invalid parameters";
  return true;
}

bool Winhelper::GetOnMenuClick(JSCValue*, JSCValue** retval, std::string*) {
  *retval = menu_click_handler_.ref();
  return true;
}

bool Winhelper::SetOnMenuClick(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsFunction(value)) {
    *exception = "value should be Function";
    return true;
  }
  menu_click_handler_.reset(JSC_VALUE(g_object_ref(value)));
  return true;
}

bool Winhelper::GetOnLoseFocus(JSCValue*, JSCValue** retval, std::string*) {
  *retval = lose_focus_handler_.ref();
  return true;
}

bool Winhelper::SetOnLoseFocus(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsFunction(value)) {
    *exception = "value should be Function";
    return true;
  }
  lose_focus_handler_.reset(JSC_VALUE(g_object_ref(value)));
  return true;
}

bool Winhelper::GetOnClose(JSCValue*, JSCValue** retval, std::string*) {
  *retval = CloseHandlers::Get().Get(page_id_);
  return true;
}

bool Winhelper::SetOnClose(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsFunction(value)) {
    *exception = "value should be Function";
    return true;
  }
  CloseHandlers::Get().Set(page_id_, value);
  return true;
}

}  // namespace plugin
