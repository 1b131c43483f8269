// The proxies the page set: a table of proxies for exact URL keys and a
// default record, kept in memory for the life of the process. The page
// edits them through the proxy helper object; the engine's network process
// asks, for every new connection, which proxy to use (ProxyResolverServer).
//
// The engine decides proxies per connection, with the connection's origin
// "scheme://host:port" and never the path, so a connection matches the
// entries whose key is that origin: scheme and host equal (ASCII case
// ignored), port equal or the scheme's default port when the key has none,
// nothing after the authority but "/". A key with a path, query or user
// name can never match a connection; that is logged once per key. What the
// page reads back stays exact on the key strings.
//
// Every read and write holds one mutex: the page's edits arrive on the main
// thread, the connections' questions on the resolver thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "vesk/core/proxy/proxy_info.h"

namespace vesk {

// What a connection is to use.
struct ProxyDecision {
  enum class Kind { kProxy, kSystem };
  Kind kind = Kind::kSystem;
  std::string proxy;  // the engine's proxy text, with kProxy

  bool operator==(const ProxyDecision&) const = default;
};

// The origin of a connection or of a table key.
struct ProxyOrigin {
  std::string scheme;  // lower case
  std::string host;    // lower case, without IPv6 brackets
  int port = 0;

  bool operator==(const ProxyOrigin&) const = default;
};

// "scheme://host[:port]" with at most a "/" after it; a missing port is the
// scheme's default (http and ws 80, https and wss 443, ftp 21). Nothing for
// any other text (a path, a query, a user name, a port out of range, a
// scheme without a known default and no port).
std::optional<ProxyOrigin> ParseProxyOrigin(std::string_view text);

class ProxyManager {
 public:
  static ProxyManager& Get();

  // The URL with every leading and trailing "/" removed.
  static std::string KeyOf(std::string_view url);

  // The entry for the URL's key; without one the default record when
  // |use_default| is set, else the empty record.
  VeskProxyInfo GetProxyForUrl(std::string_view url, bool use_default) const;
  void SetProxyForUrl(std::string_view url, const VeskProxyInfo& proxy);
  void RemoveProxyForUrl(std::string_view url);

  VeskProxyInfo default_proxy() const;
  void set_default_proxy(const VeskProxyInfo& proxy);

  // The record whose credentials answer a proxy server's challenge: the
  // default when its host (exact) and port are these, otherwise the first
  // table entry in key order that has them.
  std::optional<VeskProxyInfo> FindProxyByHostPort(std::string_view host, uint16_t port) const;

  // For a new connection to |connection| ("scheme://host:port"): the first
  // entry in key order whose key is that origin decides (its proxy when it
  // is complete, the system settings when not: an entry hides the default);
  // without one a complete default, else the system settings. The proxy
  // text never carries credentials: libsoup 3.2 would send the request to
  // the proxy's own address when it has them (they go through the views'
  // authenticate signal instead).
  ProxyDecision Decide(std::string_view connection) const;

  // Decide for a connection the engine is opening, remembering the answer
  // for OutdatedConnectionsTaken.
  ProxyDecision DecideForConnection(std::string_view connection);

  // After a change of the table or the default: true when a connection
  // decided since the last time this returned true would now be decided
  // otherwise (or when more were decided than are remembered). The engine
  // then has to drop its connections, which also ends requests in flight;
  // a change that concerns no origin connected so far spares them. The
  // remembered decisions are forgotten when this returns true.
  bool OutdatedConnectionsTaken();

  // Counts the changes of the table and the default (a write that stores
  // what was there is none).
  uint64_t generation() const;

  // Empties the table and the default (tests, benchmarks).
  void Clear();

 private:
  ProxyManager() = default;
  const VeskProxyInfo* FindLocked(std::string_view host, uint16_t port) const;
  ProxyDecision DecideLocked(std::string_view connection) const;

  mutable std::mutex mutex_;
  std::map<std::string, VeskProxyInfo> table_;
  VeskProxyInfo default_;
  std::set<std::string> warned_keys_;
  uint64_t generation_ = 0;
  // The decisions handed to the engine's connections ("scheme://host:port"
  // as the engine asked), bounded: past the bound every change counts.
  std::map<std::string, ProxyDecision, std::less<>> decided_;
  bool decided_overflowed_ = false;
};

}  // namespace vesk
