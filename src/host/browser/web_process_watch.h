// A view's web process can end under it (killed, crashed, out of memory):
// the window would stay blank and direct calls into the page would wait for
// an answer that never comes. The watch logs the end, fails the calls that
// were waiting and loads the page again.
#pragma once

#include <webkit2/webkit2.h>

namespace vesk {

void WatchWebProcess(WebKitWebView* view);

}  // namespace vesk
