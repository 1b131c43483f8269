#include "proxy_settings.h"

#include "engine.h"
#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"
#include "vesk/core/proxy/network_environment.h"
#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/proxy/resolver_server.h"
#include "vesk/core/thread_check.h"

namespace vesk {

bool StartProxyResolution() {
  VESK_REQUIRE_MAIN_THREAD();
  const std::string module_dir = JoinPath(ProgramDirectory(), "gio");
  if (!PathExists(JoinPath(module_dir, "libvesk_proxy_resolver.so"))) {
    VESK_LOG(WARNING) << "Proxy resolver module missing in " << module_dir
                      << "; the page's proxies have no effect";
    return false;
  }
  ProxyResolverServer& server = ProxyResolverServer::Get();
  if (!server.Start()) return false;
  PrepareNetworkProcessEnvironment(module_dir, server.socket_path(), server.token());
  return true;
}

gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  return Guarded(
      "authenticate",
      [request]() -> gboolean {
        VESK_REQUIRE_MAIN_THREAD();
        const char* host = webkit_authentication_request_get_host(request);
        const guint port = webkit_authentication_request_get_port(request);
        if (!webkit_authentication_request_is_for_proxy(request)) {
          // The program asks nobody for a site's credentials, so the engine's
          // login dialog never shows. Going on without any hands the page
          // what the server answers (its 401 page, a fetch's 401); a server
          // that merely asks for a client certificate gets none. Some proxies
          // (tinyproxy) refuse wrong proxy credentials with a 401 too.
          VESK_LOG_LIMITED(WARNING, 20) << "Server " << logging::EscapeLogText(host ? host : "") << ":"
                                        << port << " asked for credentials; none given";
          webkit_authentication_request_authenticate(request, nullptr);
          return TRUE;
        }
        const auto proxy =
            port <= 65535 ? ProxyManager::Get().FindProxyByHostPort(host ? host : "", port) : std::nullopt;
        // A retry means the proxy refused what was sent: asking again would
        // only repeat it, and no dialog is shown for a proxy. An entry
        // without a user name stores no credentials either.
        const bool stored = proxy && !proxy->username.empty();
        if (!stored || webkit_authentication_request_is_retry(request)) {
          VESK_LOG(WARNING) << "Proxy " << logging::EscapeLogText(host ? host : "") << ":" << port
                            << (stored ? " refused the stored credentials"
                                       : " asked for credentials; none stored")
                            << "; request cancelled";
          webkit_authentication_request_cancel(request);
          return TRUE;
        }
        VESK_LOG(INFO) << "Proxy " << logging::EscapeLogText(host ? host : "") << ":" << port
                       << " asked for credentials; the stored ones sent";
        g_autoptr(WebKitCredential) credential = webkit_credential_new(
            proxy->username.c_str(), proxy->password.c_str(), WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
        webkit_authentication_request_authenticate(request, credential);
        return TRUE;
      },
      FALSE);
}

void ProxyRulesChanged() {
  VESK_REQUIRE_MAIN_THREAD();
  // The engine reuses idle connections whatever our resolver would say now.
  // Setting the network session's proxy settings anew makes it drop its
  // connections (it also cancels requests in flight). Switching to "no
  // proxy" and back to the default (our resolver) is that re-application:
  // setting the default alone is ignored while it is in force. Both go to
  // the network process before the page's call returns, so the page's next
  // request is decided anew. A change that decides no connected origin
  // differently leaves the connections, and the requests on them, alone.
  if (!Engine::Get().initialized()) return;
  if (!ProxyManager::Get().OutdatedConnectionsTaken()) return;
  VESK_VLOG(1) << "Proxy rules changed for a connected origin; the engine drops its connections";
  WebKitWebsiteDataManager* manager = webkit_web_context_get_website_data_manager(Engine::Get().context());
  webkit_website_data_manager_set_network_proxy_settings(manager, WEBKIT_NETWORK_PROXY_MODE_NO_PROXY,
                                                         nullptr);
  webkit_website_data_manager_set_network_proxy_settings(manager, WEBKIT_NETWORK_PROXY_MODE_DEFAULT, nullptr);
}

}  // namespace vesk
