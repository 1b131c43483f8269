#include "plugins/os.h"

#include "channel_client.h"

namespace plugin {

using vesk::channel::Op;

void Os::RegisterApis() {
  RegisterFunction("isAeroStyleEnabled", &Os::IsAeroStyleEnabled);
  RegisterFunction("navigateExternal", &Os::NavigateExternal);
  RegisterFunction("hasFullScreenWindow", &Os::HasFullScreenWindow);
  RegisterFunction("getSystemInfo", &Os::GetSystemInfo);
  RegisterProperty("onAeroStyleChanged", &Os::GetOnAeroStyleChanged, &Os::SetOnAeroStyleChanged);
}

void Os::ReleaseScriptValues() {
  aero_style_changed_handler_.reset();
  VeskJsObjectBase::ReleaseScriptValues();
}

bool Os::IsAeroStyleEnabled(JSCValue*, const Arguments& arguments, JSCValue** retval,
                            std::string* exception) {
  if (!CheckCount(arguments, 0, exception)) return true;
  const auto result =
      CallHost(Op::kOsIsAeroStyleEnabled, page_id_, Json::Value(Json::objectValue), exception);
  if (result) *retval = jsc_value_new_boolean(jsc_context_get_current(), (*result)["enabled"].asBool());
  return true;
}

bool Os::NavigateExternal(JSCValue*, const Arguments& arguments, JSCValue**, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  Json::Value args(Json::objectValue);
  args["target"] = ToStdString(arguments[0]);
  // The host opens it on a worker; nothing of the outcome reaches the page.
  std::string ignored;
  CallHost(Op::kOsNavigateExternal, page_id_, args, &ignored);
  return true;
}

bool Os::HasFullScreenWindow(JSCValue*, const Arguments&, JSCValue** retval, std::string* exception) {
  const auto result =
      CallHost(Op::kOsHasFullScreenWindow, page_id_, Json::Value(Json::objectValue), exception);
  if (result) *retval = jsc_value_new_boolean(jsc_context_get_current(), (*result)["fullscreen"].asBool());
  return true;
}

bool Os::GetSystemInfo(JSCValue*, const Arguments& arguments, JSCValue** retval, std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  const std::string what = ToStdString(arguments[0]);
  JSCContext* context = jsc_context_get_current();
  if (what == "desktop") {
    const auto result = CallHost(Op::kOsGetWorkArea, page_id_, Json::Value(Json::objectValue), exception);
    if (!result) return true;
    const Json::Value& r = *result;
    JSCValue* info = jsc_value_new_object(context, nullptr, nullptr);
    JSCValue* area = NewRectangleValue(context, r["left"].asInt(), r["top"].asInt(), r["right"].asInt(),
                                       r["bottom"].asInt());
    DefineReadOnly(info, "workArea", area);
    g_object_unref(area);
    *retval = info;
  } else if (what == "lastInputInfo") {
    const auto result = CallHost(Op::kOsGetLastInputMs, page_id_, Json::Value(Json::objectValue), exception);
    if (result) *retval = jsc_value_new_number(context, (*result)["ms"].asDouble());
  }
  return true;
}

bool Os::GetOnAeroStyleChanged(JSCValue*, JSCValue** retval, std::string*) {
  *retval = aero_style_changed_handler_.ref();
  return true;
}

bool Os::SetOnAeroStyleChanged(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsFunction(value)) {
    *exception = "value should be Function";
    return true;
  }
  aero_style_changed_handler_.reset(JSC_VALUE(g_object_ref(value)));
  return true;
}

}  // namespace plugin
