#include "plugins/error_handler.h"

#include "channel_client.h"
#include "plugin_base/checks.h"

namespace plugin {
namespace {

namespace op = vesk::channel::op;

// The store lives in the UI process, one per process: no page of its own.
constexpr guint64 kNoPage = 0;

void SetErrorHandlerUrl(ErrorHandler&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  AskHost<op::SetErrorHandlerUrl>(kNoPage, call, {ToStdString(call[0])});
}

void GetErrorData(ErrorHandler&, Call& call) {
  const auto result = AskHost<op::GetErrorData>(kNoPage, call);
  if (!result) return;
  ValueRef data(jsc_value_new_object(call.context(), nullptr, nullptr));
  for (const auto& [key, text] : result->entries) {
    ValueRef value(jsc_value_new_string(call.context(), text.c_str()));
    jsc_value_object_set_property(data.get(), key.c_str(), value.get());
  }
  call.Return(std::move(data));
}

void SetErrorData(ErrorHandler&, Call& call) {
  JSCValue* value = call[0];
  if (!IsObject(value)) return call.Throw("value should be Object");
  op::SetErrorData::Request request;
  g_auto(GStrv) keys = jsc_value_object_enumerate_properties(value);
  for (gchar** key = keys; key && *key; ++key) {
    ValueRef member(jsc_value_object_get_property(value, *key));
    request.entries.emplace_back(*key, ToStdString(member.get()));
  }
  AskHost<op::SetErrorData>(kNoPage, call, request);
}

}  // namespace

void ErrorHandler::RegisterApis() {
  RegisterFunction("setErrorHandlerUrl", SetErrorHandlerUrl);
  RegisterProperty("errordata", GetErrorData, SetErrorData);
}

}  // namespace plugin
