// Answers vesk:// requests: the body is loaded on the IO worker and the
// response (200 with MIME type and exact length, or 404) is given on the main
// thread.
#pragma once

#include <webkit2/webkit2.h>

namespace vesk {

// WebKitURISchemeRequestCallback; main thread.
void HandleSchemeRequest(WebKitURISchemeRequest* request, gpointer user_data);
// Loads that finish after this are dropped instead of answered (shutdown).
void StopSchemeHandler();

}  // namespace vesk
