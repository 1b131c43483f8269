#include "vesk/core/proxy/proxy_manager.h"

#include <glib.h>

#include <charconv>

#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = g_ascii_tolower(c);
  return lower;
}

int DefaultPort(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return 0;
}

bool IsSchemeText(std::string_view scheme) {
  if (scheme.empty() || !g_ascii_isalpha(scheme.front())) return false;
  for (char c : scheme)
    if (!g_ascii_isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port"; port -1 when absent.
bool SplitAuthority(std::string_view authority, std::string_view* host, int* port) {
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    *host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
  } else {
    const size_t colon = authority.find(':');
    *host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
  }
  if (host->empty()) return false;
  *port = -1;
  if (rest.empty()) return true;
  if (rest.front() != ':' || rest.size() == 1) return false;
  int value = 0;
  const auto [end, error] = std::from_chars(rest.data() + 1, rest.data() + rest.size(), value);
  if (error != std::errc() || end != rest.data() + rest.size() || value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

}  // namespace

std::optional<ProxyOrigin> ParseProxyOrigin(std::string_view text) {
  const size_t separator = text.find("://");
  if (separator == std::string_view::npos || !IsSchemeText(text.substr(0, separator))) return std::nullopt;
  ProxyOrigin origin;
  origin.scheme = Lower(text.substr(0, separator));
  std::string_view authority = text.substr(separator + 3);
  if (!authority.empty() && authority.back() == '/') authority.remove_suffix(1);
  if (authority.find_first_of("/?#@ \t\r\n") != std::string_view::npos) return std::nullopt;
  std::string_view host;
  int port = -1;
  if (!SplitAuthority(authority, &host, &port)) return std::nullopt;
  origin.host = Lower(host);
  origin.port = port > 0 ? port : DefaultPort(origin.scheme);
  if (origin.port == 0) return std::nullopt;
  return origin;
}

ProxyManager& ProxyManager::Get() {
  static ProxyManager* manager = new ProxyManager;
  return *manager;
}

std::string ProxyManager::KeyOf(std::string_view url) {
  const size_t first = url.find_first_not_of('/');
  if (first == std::string_view::npos) return std::string();
  const size_t last = url.find_last_not_of('/');
  return std::string(url.substr(first, last - first + 1));
}

VeskProxyInfo ProxyManager::GetProxyForUrl(std::string_view url, bool use_default) const {
  const std::string key = KeyOf(url);
  std::lock_guard lock(mutex_);
  const auto it = table_.find(key);
  if (it != table_.end()) return it->second;
  return use_default ? default_ : VeskProxyInfo{};
}

void ProxyManager::SetProxyForUrl(std::string_view url, const VeskProxyInfo& proxy) {
  std::string key = KeyOf(url);
  std::lock_guard lock(mutex_);
  const size_t size_before = table_.size();
  if (!ParseProxyOrigin(key) && warned_keys_.insert(key).second) {
    VESK_LOG(WARNING) << "Proxy entry " << logging::EscapeLogText(key)
                      << " is not an origin (scheme://host[:port]): connections are decided per origin, "
                         "so it is never used";
  }
  VeskProxyInfo& stored = table_[std::move(key)];
  const bool is_new = table_.size() != size_before;
  if (is_new || !(stored == proxy)) ++generation_;
  stored = proxy;
}

void ProxyManager::RemoveProxyForUrl(std::string_view url) {
  const std::string key = KeyOf(url);
  std::lock_guard lock(mutex_);
  if (table_.erase(key)) ++generation_;
}

VeskProxyInfo ProxyManager::default_proxy() const {
  std::lock_guard lock(mutex_);
  return default_;
}

void ProxyManager::set_default_proxy(const VeskProxyInfo& proxy) {
  std::lock_guard lock(mutex_);
  if (!(default_ == proxy)) ++generation_;
  default_ = proxy;
}

uint64_t ProxyManager::generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

std::optional<VeskProxyInfo> ProxyManager::FindProxyByHostPort(std::string_view host, uint16_t port) const {
  std::lock_guard lock(mutex_);
  const VeskProxyInfo* found = FindLocked(host, port);
  return found ? std::optional<VeskProxyInfo>(*found) : std::nullopt;
}

const VeskProxyInfo* ProxyManager::FindLocked(std::string_view host, uint16_t port) const {
  if (default_.host == host && default_.port == port) return &default_;
  for (const auto& [key, proxy] : table_)
    if (proxy.host == host && proxy.port == port) return &proxy;
  return nullptr;
}

ProxyDecision ProxyManager::Decide(std::string_view connection) const {
  std::lock_guard lock(mutex_);
  return DecideLocked(connection);
}

ProxyDecision ProxyManager::DecideLocked(std::string_view connection) const {
  const std::optional<ProxyOrigin> origin = ParseProxyOrigin(connection);
  const VeskProxyInfo* chosen = nullptr;
  if (origin) {
    for (const auto& [key, proxy] : table_) {
      if (ParseProxyOrigin(key) == origin) {
        chosen = &proxy;
        break;
      }
    }
  }
  if (!chosen) chosen = &default_;
  if (!chosen->IsComplete()) return {};
  return {ProxyDecision::Kind::kProxy, ProxyListText(*chosen)};
}

ProxyDecision ProxyManager::DecideForConnection(std::string_view connection) {
  // Enough for every origin a desktop application talks to; the bound keeps
  // a page that makes up hosts from growing the map.
  constexpr size_t kMaxRemembered = 2048;
  std::lock_guard lock(mutex_);
  ProxyDecision decision = DecideLocked(connection);
  const auto found = decided_.find(connection);
  if (found != decided_.end())
    found->second = decision;
  else if (decided_.size() < kMaxRemembered)
    decided_.emplace(std::string(connection), decision);
  else
    decided_overflowed_ = true;
  return decision;
}

bool ProxyManager::OutdatedConnectionsTaken() {
  std::lock_guard lock(mutex_);
  bool outdated = decided_overflowed_;
  for (auto it = decided_.begin(); !outdated && it != decided_.end(); ++it)
    outdated = !(DecideLocked(it->first) == it->second);
  if (outdated) {
    decided_.clear();
    decided_overflowed_ = false;
  }
  return outdated;
}

void ProxyManager::Clear() {
  std::lock_guard lock(mutex_);
  table_.clear();
  default_ = VeskProxyInfo{};
  decided_.clear();
  decided_overflowed_ = false;
}

}  // namespace vesk
