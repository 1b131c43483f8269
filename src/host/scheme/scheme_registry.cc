#include "scheme/scheme_registry.h"

#include <map>
#include <set>

namespace vesk {
namespace {

std::map<std::string, std::set<std::string>>& Registrations() {
  static auto* registrations = new std::map<std::string, std::set<std::string>>;
  return *registrations;
}

}  // namespace

bool RegisterSchemeHandler(const std::string& scheme, const std::string& host) {
  if (scheme.empty() || host.empty()) return false;
  Registrations()[scheme].insert(host);
  return true;
}

void ClearSchemeRegistrations() { Registrations().clear(); }

void InstallSchemeHandlers(WebKitWebContext* context) {
  // Requests are answered by the package handler (see package_check and the
  // scheme handler); until it is installed every vesk:// request fails.
  (void)context;
}

}  // namespace vesk
