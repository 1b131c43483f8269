#include "plugins/error_handler.h"

#include "channel_client.h"
#include "plugin_base/checks.h"

namespace plugin {

using vesk::channel::Op;

ErrorHandler* ErrorHandler::Instance(JSCContext* context) {
  // Kept until the process ends, like the store it fronts.
  static std::shared_ptr<ErrorHandler>* instance = nullptr;
  if (!instance) {
    instance = new std::shared_ptr<ErrorHandler>(new ErrorHandler);
    (*instance)->CreateObject(context);
  }
  return instance->get();
}

void ErrorHandler::RegisterApis() {
  RegisterFunction("setErrorHandlerUrl", &ErrorHandler::SetErrorHandlerUrl);
  RegisterProperty("errordata", &ErrorHandler::GetErrorData, &ErrorHandler::SetErrorData);
}

bool ErrorHandler::SetErrorHandlerUrl(JSCValue*, const Arguments& arguments, JSCValue**,
                                      std::string* exception) {
  if (!CheckCount(arguments, 1, exception) || !CheckArgument(IsString(arguments[0]), 0, "String", exception))
    return true;
  Json::Value args(Json::objectValue);
  args["url"] = ToStdString(arguments[0]);
  CallHost(Op::kErrorSetUrl, 0, args, exception);
  return true;
}

bool ErrorHandler::GetErrorData(JSCValue*, JSCValue** retval, std::string* exception) {
  const auto result = CallHost(Op::kErrorGetData, 0, Json::Value(Json::objectValue), exception);
  if (!result) return true;
  JSCContext* context = jsc_context_get_current();
  JSCValue* data = jsc_value_new_object(context, nullptr, nullptr);
  for (const Json::Value& pair : (*result)["entries"]) {
    if (!pair.isArray() || pair.size() != 2) continue;
    JSCValue* value = jsc_value_new_string(context, pair[1].asString().c_str());
    jsc_value_object_set_property(data, pair[0].asString().c_str(), value);
    g_object_unref(value);
  }
  *retval = data;
  return true;
}

bool ErrorHandler::SetErrorData(JSCValue*, JSCValue* value, std::string* exception) {
  if (!IsObject(value)) {
    *exception = "value should be Object";
    return true;
  }
  Json::Value entries(Json::arrayValue);
  gchar** keys = jsc_value_object_enumerate_properties(value);
  for (gchar** key = keys; key && *key; ++key) {
    JSCValue* member = jsc_value_object_get_property(value, *key);
    Json::Value pair(Json::arrayValue);
    pair.append(*key);
    pair.append(ToStdString(member));
    entries.append(pair);
    if (member) g_object_unref(member);
  }
  g_strfreev(keys);
  Json::Value args(Json::objectValue);
  args["entries"] = entries;
  CallHost(Op::kErrorSetData, 0, args, exception);
  return true;
}

}  // namespace plugin
