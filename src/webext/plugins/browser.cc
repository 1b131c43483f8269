#include "plugins/browser.h"

#include "channel_client.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"

namespace plugin {

ClickPoint MiddleOf(int left, int top, int right, int bottom) {
  // Sums in 64 bits: two large coordinates must not overflow.
  return {static_cast<int>((static_cast<int64_t>(left) + right) / 2),
          static_cast<int>((static_cast<int64_t>(top) + bottom) / 2)};
}

namespace {

namespace op = vesk::channel::op;
using vesk::logging::EscapeLogText;

bool ExpectStrings(Call& call, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!call.Expect(IsString(call[i]), static_cast<int>(i), "String")) return false;
  return true;
}

void GetOriginStorage(Browser& self, Call& call) {
  if (!call.ExpectMinimumCount(2) || !ExpectStrings(call, 2)) return;
  const auto result =
      AskHost<op::GetOriginStorage>(self.page_id(), call, {ToStdString(call[0]), ToStdString(call[1])});
  if (result && result->value) call.ReturnString(*result->value);
}

void GetCookie(Browser& self, Call& call) {
  if (!call.ExpectCount(2) || !ExpectStrings(call, 2)) return;
  const std::string url = ToStdString(call[0]), name = ToStdString(call[1]);
  if (url.empty() || name.empty()) return call.Throw("url and cookie name must be not empty");
  if (const auto result = AskHost<op::GetCookie>(self.page_id(), call, {url, name}))
    call.ReturnString(result->value);
}

void SetCookie(Browser& self, Call& call) {
  if (!call.ExpectCount(3) || !ExpectStrings(call, 3)) return;
  const std::string url = ToStdString(call[0]), name = ToStdString(call[1]), value = ToStdString(call[2]);
  const auto result = AskHost<op::SetCookie>(self.page_id(), call, {url, name, value});
  if (!result || result->done) return;
  VESK_LOG(ERROR) << "Failed to set cookie(" << EscapeLogText(name) << "=" << EscapeLogText(value) << ") to "
                  << EscapeLogText(url);
  call.Throw("Set cookie failed.");
}

void RemoveCookie(Browser& self, Call& call) {
  if (!call.ExpectCount(2) || !ExpectStrings(call, 2)) return;
  const std::string url = ToStdString(call[0]), name = ToStdString(call[1]);
  const auto result = AskHost<op::RemoveCookie>(self.page_id(), call, {url, name});
  if (!result || result->done) return;
  VESK_LOG(ERROR) << "Failed to delete cookie(" << EscapeLogText(name) << ") to " << EscapeLogText(url);
  call.Throw("Delete cookie failed.");
}

void MoveCookie(Browser& self, Call& call) {
  if (!call.ExpectCount(3) || !ExpectStrings(call, 3)) return;
  const std::string source = ToStdString(call[0]), target = ToStdString(call[1]), name = ToStdString(call[2]);
  if (source.empty() || target.empty() || name.empty())
    return call.Throw("domain and cookie name must be not empty");
  AskHost<op::MoveCookie>(self.page_id(), call, {source, target, name});
}

// An integer member of the rectangle, as the engine converts a number.
int IntMember(JSCValue* rect, const char* name) {
  const ValueRef value = Member(rect, name);
  return value ? jsc_value_to_int32(value.get()) : 0;
}

void ClickFileInput(Browser& self, Call& call) {
  if (!call.ExpectCount(1)) return;
  JSCValue* element = call[0];
  const ValueRef method = Member(element, "getBoundingClientRect");
  if (!IsFunction(method.get())) return call.Throw("object should have 'getBoundingClientRect' function");
  JSCContext* context = call.context();
  jsc_context_clear_exception(context);
  const ValueRef rect(jsc_value_object_invoke_method(element, "getBoundingClientRect", G_TYPE_NONE));
  if (JSCException* exception = jsc_context_get_exception(context)) {
    std::string message = "call getBoundingClientRect failed: ";
    message += jsc_exception_get_message(exception);
    jsc_context_clear_exception(context);
    return call.Throw(message);
  }
  const ClickPoint point = MiddleOf(IntMember(rect.get(), "left"), IntMember(rect.get(), "top"),
                                    IntMember(rect.get(), "right"), IntMember(rect.get(), "bottom"));
  AskHost<op::ClickAt>(self.page_id(), call, {point.x, point.y});
}

}  // namespace

void Browser::RegisterApis() {
  RegisterFunction("getOriginStorage", GetOriginStorage);
  RegisterFunction("getCookie", GetCookie);
  RegisterFunction("setCookie", SetCookie);
  RegisterFunction("removeCookie", RemoveCookie);
  RegisterFunction("moveCookie", MoveCookie);
  // Never traced.
  RegisterFunction("clickFileInput", ClickFileInput, TraceMode::kNever);
}

}  // namespace plugin
