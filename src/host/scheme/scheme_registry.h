// The vesk:// scheme: one registered scheme, dispatched per host.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace vesk {

// Records |host| as served under |scheme|. Main thread.
bool RegisterSchemeHandler(const std::string& scheme, const std::string& host);
// Forgets every registration (shutdown). Requests that arrive later, and
// loads that finish later, are answered with 404 or dropped.
void ClearSchemeRegistrations();
// Whether |host| is registered under |scheme|. Main thread.
bool IsSchemeHostRegistered(const std::string& scheme, const std::string& host);
// Registers the recorded schemes with a freshly created web context: secure,
// CORS-enabled, answered by the scheme handler.
void InstallSchemeHandlers(WebKitWebContext* context);

}  // namespace vesk
