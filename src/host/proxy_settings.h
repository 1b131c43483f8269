// The engine's side of the page's proxies: the resolver socket and the
// environment that makes the network process load our GIO module, proxy
// credentials through the views' authenticate signal, and applying a change
// of the page's rules to the next request.
#pragma once

#include <webkit2/webkit2.h>

namespace vesk {

// Starts the resolver socket and prepares the environment the network
// process inherits. Call before the engine starts any process; false
// (logged) when the page's proxies cannot take effect, in which case the
// engine follows the system settings alone.
bool StartProxyResolution();

// A view's "authenticate" handler: a proxy's challenge is answered with
// the stored credentials of that proxy (FindProxyByHostPort) or cancelled,
// never with a dialog; a site's challenge goes on without credentials (the
// page gets the server's answer), also without a dialog.
gboolean OnAuthenticate(WebKitWebView* view, WebKitAuthenticationRequest* request, gpointer);

// The page changed its table or default: connections opened under the old
// rules are not used for later requests.
void ProxyRulesChanged();

}  // namespace vesk
