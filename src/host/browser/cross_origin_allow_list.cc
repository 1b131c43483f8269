#include "browser/cross_origin_allow_list.h"

#include <algorithm>
#include <vector>

#include "ui_app.h"
#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

using Patterns = std::vector<std::string>;

struct AllowListState {
  Patterns applied;
  std::string committed_url;
};

Patterns PatternsFor(const std::string& url) {
  Patterns patterns;
  for (const CrossOriginEntry& entry : UiApp::Get().cross_origin_entries()) {
    if (!UrlHasOrigin(url, entry.source_origin)) continue;
    for (std::string& pattern : AllowListPatterns(entry))
      if (std::find(patterns.begin(), patterns.end(), pattern) == patterns.end())
        patterns.push_back(std::move(pattern));
  }
  return patterns;
}

Patterns Intersection(const Patterns& a, const Patterns& b) {
  Patterns both;
  for (const std::string& pattern : a)
    if (std::find(b.begin(), b.end(), pattern) != b.end()) both.push_back(pattern);
  return both;
}

// |always|: also when the list did not change. A navigation to another site
// may move the page to a new web process, which starts with the list as it
// was when the move began; at the commit that process is the page's, and
// it must hear the list again.
void Apply(WebKitWebView* view, AllowListState* state, Patterns patterns, bool always = false) {
  if (!always && patterns == state->applied) return;
  std::vector<const gchar*> list;
  for (const std::string& pattern : patterns) list.push_back(pattern.c_str());
  list.push_back(nullptr);
  // An empty list clears the engine's.
  webkit_web_view_set_cors_allowlist(view, patterns.empty() ? nullptr : list.data());
  state->applied = std::move(patterns);
}

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("cross-origin allow-list", [&] {
    auto* state = static_cast<AllowListState*>(data);
    const char* uri = webkit_web_view_get_uri(view);
    const std::string url = uri ? uri : "";
    switch (event) {
      case WEBKIT_LOAD_STARTED:
      case WEBKIT_LOAD_REDIRECTED:
        Apply(view, state, Intersection(PatternsFor(state->committed_url), PatternsFor(url)));
        break;
      case WEBKIT_LOAD_COMMITTED:
        state->committed_url = url;
        Apply(view, state, PatternsFor(url), /*always=*/true);
        break;
      case WEBKIT_LOAD_FINISHED:
        // Also after a load that failed before its commit: the page that
        // stays is the committed one.
        Apply(view, state, PatternsFor(state->committed_url));
        break;
    }
  });
}

}  // namespace

void FollowCrossOriginAllowList(WebKitWebView* view, const std::string& first_url) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* state = new AllowListState;
  state->committed_url = first_url;
  Apply(view, state, PatternsFor(first_url));
  g_signal_connect_data(
      view, "load-changed", G_CALLBACK(OnLoadChanged), state,
      [](gpointer data, GClosure*) { delete static_cast<AllowListState*>(data); }, GConnectFlags(0));
}

}  // namespace vesk
