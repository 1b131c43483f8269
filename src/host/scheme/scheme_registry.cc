#include "scheme/scheme_registry.h"

#include <glib.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "scheme/scheme_handler.h"

namespace vesk {
namespace {

struct Registrations {
  std::vector<std::string> schemes;  // in the order of first registration
  std::map<std::string, std::set<std::string>> hosts;
};

// Touched only on the main thread, during start-up and shutdown.
Registrations& GetRegistrations() {
  static auto* registrations = new Registrations;
  return *registrations;
}

}  // namespace

bool RegisterSchemeHandler(const std::string& scheme, const std::string& host) {
  if (scheme.empty() || host.empty()) return false;
  Registrations& registrations = GetRegistrations();
  if (std::find(registrations.schemes.begin(), registrations.schemes.end(), scheme) ==
      registrations.schemes.end())
    registrations.schemes.push_back(scheme);
  // Hosts are case-insensitive; SplitUrl hands them over in lower case.
  std::string lower = host;
  for (char& c : lower) c = g_ascii_tolower(c);
  registrations.hosts[scheme].insert(lower);
  return true;
}

void ClearSchemeRegistrations() {
  GetRegistrations() = Registrations();
  StopSchemeHandler();
}

bool IsSchemeHostRegistered(const std::string& scheme, const std::string& host) {
  const Registrations& registrations = GetRegistrations();
  const auto it = registrations.hosts.find(scheme);
  return it != registrations.hosts.end() && it->second.count(host) > 0;
}

void InstallSchemeHandlers(WebKitWebContext* context) {
  if (!context) return;
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  for (const std::string& scheme : GetRegistrations().schemes) {
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), &HandleSchemeRequest, nullptr, nullptr);
    // Pages of the application are a secure origin, and may fetch each
    // other's resources (the cross-origin allow-list decides which).
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
  }
}

}  // namespace vesk
