// The proxy record the page sets (per URL or as the default) and its
// conversions: to the engine's proxy text and from a page's proxy object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesk {

struct VeskProxyInfo {
  std::string scheme;  // as the page wrote it ("http"); may be empty
  std::string host;
  uint16_t port = 0;  // 0: not set
  std::string username;
  std::string password;

  // Only a complete record is ever handed to the engine.
  bool IsComplete() const { return !scheme.empty() && !host.empty() && port != 0; }
  bool operator==(const VeskProxyInfo&) const = default;
};

// scheme + "://" + host + ":" + port ("://" only with a scheme). A host that
// is an IPv6 address is put in brackets, as a URI needs it.
std::string ProxyListText(const VeskProxyInfo& proxy);

// The members of a page's proxy object as the script side read them.
// Strings that were not strings arrive empty; |port| is the number the page
// gave (NaN when it was not a number).
struct ProxyObjectMembers {
  bool has_host = false;
  bool has_port = false;
  std::string scheme;
  std::string host;
  double port = 0;
  std::string username;
  std::string password;
};

// A proxy object to a record: host and port must be present and the port a
// number in 1..65534 (fractions are cut off). Credentials for a scheme other
// than "http" are logged as an error and accepted all the same.
std::optional<VeskProxyInfo> ProxyFromObjectMembers(const ProxyObjectMembers& members);

}  // namespace vesk
