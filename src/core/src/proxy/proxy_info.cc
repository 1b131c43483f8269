#include "vesk/core/proxy/proxy_info.h"

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
