// Whether what the main thread knows of the display is current, for the
// page channel's thread. It is while the main thread waits in its main loop
// with no display event queued (neither in GDK nor in Xlib) and the X
// connection holds nothing unread: a window rectangle the main thread kept
// is then what asking the X server would give, as the main thread's own
// check (gdk_events_pending) would conclude.
#pragma once

#include <functional>

namespace vesk::display_settled {

// Main thread, once the display is open; later calls do nothing. Watches
// the waits of the default main context.
void Watch();

// Any thread: runs |read|, and says whether the display was settled all
// the while. False before Watch and off X11.
bool ReadWhileSettled(const std::function<void()>& read);

}  // namespace vesk::display_settled
