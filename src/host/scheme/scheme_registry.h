// The vesk:// scheme: one registered scheme, dispatched per host.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace vesk {

// Records |host| as served under |scheme|. Main thread.
bool RegisterSchemeHandler(const std::string& scheme, const std::string& host);
// Forgets every registration (shutdown).
void ClearSchemeRegistrations();
// Registers the recorded schemes with a freshly created web context.
void InstallSchemeHandlers(WebKitWebContext* context);

}  // namespace vesk
