// Keeps the cross-origin list's targets from pages that are not their
// sources.
//
// The engine grants a listed target to the whole web process, and for the
// process's life: once a source page has been shown in a process, every
// later page of that process reads the targets as if they were its own
// origin, whatever the UI process does with the view's list afterwards.
// Navigations from the application's pages to a site of another origin do
// not always move to a new process, and a new process may start with the
// grant it had when the move began. So every web process refuses the
// targets' requests of a page that is not a source of them: such a page
// gets a network error for them, also where the engine's own checks would
// have let it load a resource there.
//
// What stays: a frame of another origin inside a source page shares the
// page's grant (the engine names no frame for a request).
#pragma once

#include <webkit2/webkit-web-extension.h>

namespace plugin {

// Watches |page| for the rest of its life.
void GuardCrossOriginTargets(WebKitWebPage* page);

}  // namespace plugin
