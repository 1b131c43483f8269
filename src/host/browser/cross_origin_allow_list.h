// The cross-origin allow-list follows the page a view shows, not the view:
// the engine's list is the committed main-frame page's (targets of the
// entries whose source is that page's origin) and empty for any other page.
// While a navigation is pending, only what both the old and the new page may
// reach stays, so neither sees the other's targets in between.
//
// The engine applies the list to the whole page, sub-frames included: a
// frame of another origin inside a listed page reaches the targets too.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace vesk {

// Applies the list for |first_url| to |view| now and keeps it following the
// view's main-frame loads for the view's life.
void FollowCrossOriginAllowList(WebKitWebView* view, const std::string& first_url);

}  // namespace vesk
