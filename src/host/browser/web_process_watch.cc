#include "browser/web_process_watch.h"

#include <glib.h>

#include <string>

#include "channel/page_messages.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

// A page that takes its process down every time it loads must not keep the
// program reloading it: after this many ends within a minute it stays blank.
constexpr int kMaxReloadsPerMinute = 5;

struct WatchState {
  gint64 window_start_us = 0;
  int ends_in_window = 0;
};

const char* ReasonText(WebKitWebProcessTerminationReason reason) {
  switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED:
      return "crashed";
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
      return "exceeded its memory limit";
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
      return "terminated by the program";
  }
  return "ended";
}

bool MayReload(WatchState* state) {
  const gint64 now = g_get_monotonic_time();
  if (now - state->window_start_us > 60 * G_USEC_PER_SEC) {
    state->window_start_us = now;
    state->ends_in_window = 0;
  }
  return ++state->ends_in_window <= kMaxReloadsPerMinute;
}

void OnTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("web-process-terminated", [&] {
    const char* uri = webkit_web_view_get_uri(view);
    const std::string why = std::string("the web process ") + ReasonText(reason);
    VESK_LOG(ERROR) << "Web process of " << (uri ? uri : "(no page)") << " " << ReasonText(reason);
    FailWaitingPageCalls(view, why);
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    if (!MayReload(static_cast<WatchState*>(data))) {
      VESK_LOG(ERROR) << "Not reloading " << (uri ? uri : "(no page)") << ": its web process ended "
                      << kMaxReloadsPerMinute << " times within a minute";
      return;
    }
    VESK_LOG(INFO) << "Reloading after the web process ended: " << (uri ? uri : "(no page)");
    webkit_web_view_reload(view);
  });
}

}  // namespace

void WatchWebProcess(WebKitWebView* view) {
  g_signal_connect_data(
      view, "web-process-terminated", G_CALLBACK(OnTerminated), new WatchState,
      [](gpointer data, GClosure*) { delete static_cast<WatchState*>(data); }, GConnectFlags(0));
}

}  // namespace vesk
