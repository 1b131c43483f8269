#include "cross_origin_guard.h"

#include <string>

#include "extension_state.h"
#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace plugin {
namespace {

gboolean OnSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  return vesk::Guarded(
      "cross-origin guard",
      [&]() -> gboolean {
        const char* page_uri = webkit_web_page_get_uri(page);
        const char* target = webkit_uri_request_get_uri(request);
        if (!page_uri || !target) return FALSE;
        if (!vesk::IsTargetOfOtherSources(ExtensionState::Get().cross_origin_entries, page_uri, target))
          return FALSE;
        // A page can ask again and again; the log keeps the first few.
        static int logged = 0;
        if (logged < 20 && ++logged)
          VESK_LOG(WARNING) << "Cross-origin target refused to a page that is not its source: " << target;
        return TRUE;  // the request is not sent; the page sees a network error
      },
      FALSE);
}

}  // namespace

void GuardCrossOriginTargets(WebKitWebPage* page) {
  VESK_REQUIRE_MAIN_THREAD();
  if (ExtensionState::Get().cross_origin_entries.empty()) return;
  g_signal_connect(page, "send-request", G_CALLBACK(OnSendRequest), nullptr);
}

}  // namespace plugin
