#include "vesk/core/browser/cookie_rules.h"

#include <algorithm>

namespace vesk {
namespace {

// Host names compare without regard to ASCII case.
bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// An address rather than a name: only the address itself matches it.
bool IsAddress(const std::string& host) {
  return host.find(':') != std::string::npos ||
         std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

}  // namespace

namespace cookies {

std::string DefaultPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return "/";
  const size_t last = path.rfind('/');
  return last == 0 ? "/" : path.substr(0, last);
}

bool IsWritable(const std::string& name, const std::string& value) {
  if (name.empty() && value.empty()) return false;
  auto clean = [](const std::string& text) {
    for (unsigned char c : text)
      if (c < 0x20 || c == 0x7f || c == ';') return false;
    return true;
  };
  return clean(name) && clean(value) && name.find('=') == std::string::npos;
}

std::string MoveTargetUrl(const std::string& target) {
  return target.rfind("http://", 0) == 0 ? target : "http://" + target;
}

bool DomainMatchesHost(const std::string& domain, const std::string& host) {
  const std::string bare = !domain.empty() && domain[0] == '.' ? domain.substr(1) : domain;
  if (bare.empty() || host.empty()) return false;
  if (EqualsIgnoringCase(bare, host)) return true;
  return !IsAddress(host) && host.size() > bare.size() + 1 && host[host.size() - bare.size() - 1] == '.' &&
         EqualsIgnoringCase(host.substr(host.size() - bare.size()), bare);
}

bool IsFromDomain(const std::string& cookie_domain, const std::string& source) {
  return cookie_domain == source || (!cookie_domain.empty() && cookie_domain[0] == '.' &&
                                     cookie_domain.compare(1, std::string::npos, source) == 0);
}

}  // namespace cookies

}  // namespace vesk
