#include "plugins/proxy_helper.h"

#include <cmath>
#include <limits>
#include <optional>

#include "channel_client.h"
#include "plugin_base/checks.h"
#include "vesk/core/proxy/proxy_info.h"

namespace plugin {
namespace {

namespace op = vesk::channel::op;

// The table lives in the UI process, one per process: no page of its own.
constexpr guint64 kNoPage = 0;

bool HasMember(JSCValue* value, const char* name) {
  return IsObject(value) && jsc_value_object_has_property(value, name);
}

// A string member's text; anything else (missing, a number) is empty.
std::string StringMember(JSCValue* object, const char* name) {
  const ValueRef member = Member(object, name);
  return IsString(member.get()) ? ToStdString(member.get()) : std::string();
}

// undefined is the empty record; otherwise the object's members, each
// read once.
std::optional<vesk::VeskProxyInfo> ToProxyInfo(JSCValue* value) {
  if (IsUndefined(value)) return vesk::VeskProxyInfo{};
  vesk::ProxyObjectMembers members;
  members.has_host = HasMember(value, "host");
  members.has_port = HasMember(value, "port");
  if (!members.has_host || !members.has_port) return std::nullopt;
  members.scheme = StringMember(value, "scheme");
  members.host = StringMember(value, "host");
  const ValueRef port = Member(value, "port");
  members.port =
      IsNumber(port.get()) ? jsc_value_to_double(port.get()) : std::numeric_limits<double>::quiet_NaN();
  members.username = StringMember(value, "username");
  members.password = StringMember(value, "password");
  return vesk::ProxyFromObjectMembers(members);
}

// The five members in the record's order, all always present.
ValueRef ToObject(JSCContext* context, const vesk::VeskProxyInfo& proxy) {
  ValueRef object(jsc_value_new_object(context, nullptr, nullptr));
  const auto set = [&object](const char* name, JSCValue* value) {
    ValueRef member(value);
    jsc_value_object_set_property(object.get(), name, member.get());
  };
  set("scheme", jsc_value_new_string(context, proxy.scheme.c_str()));
  set("host", jsc_value_new_string(context, proxy.host.c_str()));
  set("port", jsc_value_new_number(context, proxy.port));
  set("username", jsc_value_new_string(context, proxy.username.c_str()));
  set("password", jsc_value_new_string(context, proxy.password.c_str()));
  return object;
}

void SetProxyForUrl(ProxyHelper&, Call& call) {
  if (!call.ExpectCount(2) || !call.Expect(IsString(call[0]), 0, "String")) return;
  const std::string url = ToStdString(call[0]);
  if (IsUndefined(call[1])) {
    AskHost<op::RemoveProxyForUrl>(kNoPage, call, {url});
    return;
  }
  const auto proxy = ToProxyInfo(call[1]);
  if (!proxy) return call.Throw("Javascript Object To Proxy Failed!");
  AskHost<op::SetProxyForUrl>(kNoPage, call, {url, *proxy});
}

void GetProxyForUrl(ProxyHelper&, Call& call) {
  if (!call.ExpectCount(1) || !call.Expect(IsString(call[0]), 0, "String")) return;
  if (const auto result = AskHost<op::GetProxyForUrl>(kNoPage, call, {ToStdString(call[0])}))
    call.Return(ToObject(call.context(), result->proxy));
}

void GetDefaultProxy(ProxyHelper&, Call& call) {
  const auto result = AskHost<op::GetDefaultProxy>(kNoPage, call);
  if (result && result->proxy.IsComplete()) call.Return(ToObject(call.context(), result->proxy));
}

// Any value that is neither undefined nor an object with host and port
// fails the conversion; the old default then stays.
void SetDefaultProxy(ProxyHelper&, Call& call) {
  const auto proxy = ToProxyInfo(call[0]);
  if (!proxy) return call.Throw("Javascript Object To Default Proxy Failed!");
  AskHost<op::SetDefaultProxy>(kNoPage, call, {*proxy});
}

}  // namespace

void ProxyHelper::RegisterApis() {
  RegisterFunction("setProxyForUrl", SetProxyForUrl);
  RegisterFunction("getProxyForUrl", GetProxyForUrl);
  RegisterProperty("defaultProxy", GetDefaultProxy, SetDefaultProxy);
}

}  // namespace plugin
