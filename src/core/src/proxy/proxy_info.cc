#include "vesk/core/proxy/proxy_info.h"

#include <glib.h>

#include <cmath>

#include "vesk/core/logging.h"

namespace vesk {

std::string ProxyListText(const VeskProxyInfo& proxy) {
  const bool ipv6 =
      !proxy.host.empty() && proxy.host.find(':') != std::string::npos && proxy.host.front() != '[';
  std::string text = proxy.scheme;
  if (!proxy.scheme.empty()) text += "://";
  text += ipv6 ? "[" + proxy.host + "]" : proxy.host;
  return text + ":" + std::to_string(proxy.port);
}

std::string ProxyListTextWithCredentials(const VeskProxyInfo& proxy, const VeskProxyInfo& credentials) {
  const std::string text = ProxyListText(proxy);
  const size_t authority = proxy.scheme.empty() ? 0 : proxy.scheme.size() + 3;
  g_autofree gchar* user = g_uri_escape_string(credentials.username.c_str(), nullptr, FALSE);
  g_autofree gchar* password = g_uri_escape_string(credentials.password.c_str(), nullptr, FALSE);
  return text.substr(0, authority) + user + ":" + password + "@" + text.substr(authority);
}

std::optional<VeskProxyInfo> ProxyFromObjectMembers(const ProxyObjectMembers& members) {
  if (!members.has_host || !members.has_port) return std::nullopt;
  if (!std::isfinite(members.port)) return std::nullopt;
  const double port = std::trunc(members.port);
  if (port < 1 || port > 65534) return std::nullopt;
  VeskProxyInfo proxy{members.scheme, members.host, static_cast<uint16_t>(port), members.username,
                      members.password};
  if (proxy.scheme != "http" && !proxy.username.empty()) {
    // The password stays out of the log: the log travels to support.
    VESK_LOG(ERROR) << "Only Http Proxy Support Authentication. Now The Proxy Is" << proxy.scheme << "://"
                    << proxy.username << ":" << (proxy.password.empty() ? "" : "***") << "@" << proxy.host
                    << ":" << proxy.port;
  }
  return proxy;
}

}  // namespace vesk
