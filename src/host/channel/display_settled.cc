#include "channel/display_settled.h"

#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <poll.h>

#include <atomic>
#include <cstdint>

#include "vesk/core/thread_check.h"

namespace vesk::display_settled {
namespace {

// Counts the main thread's waits: odd while it waits with the display
// settled. A reader that sees the same odd value before and after its read
// read while one such wait lasted.
std::atomic<uint64_t> settled_waits{0};
std::atomic<int> display_fd{-1};
Display* x_display = nullptr;  // main thread only
GPollFunc inner_poll = nullptr;

bool NothingQueued() {
  // GDK takes events from Xlib one at a time; either may hold some.
  if (XEventsQueued(x_display, QueuedAlready) != 0) return false;
  g_autoptr(GdkEvent) queued = gdk_display_peek_event(gdk_display_get_default());
  return queued == nullptr;
}

gint WatchedPoll(GPollFD* fds, guint count, gint timeout) {
  // A wait without a timeout of 0 means no source is ready, the display's
  // own included (it is ready while GDK or Xlib holds an event).
  const bool settled = timeout != 0 && NothingQueued();
  if (settled) ++settled_waits;
  const gint result = inner_poll(fds, count, timeout);
  if (settled) ++settled_waits;
  return result;
}

}  // namespace

void Watch() {
  VESK_REQUIRE_MAIN_THREAD();
  if (inner_poll) return;
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return;
  x_display = GDK_DISPLAY_XDISPLAY(display);
  display_fd = ConnectionNumber(x_display);
  GMainContext* context = g_main_context_default();
  inner_poll = g_main_context_get_poll_func(context);
  g_main_context_set_poll_func(context, WatchedPoll);
}

bool ReadWhileSettled(const std::function<void()>& read) {
  const int fd = display_fd.load();
  const uint64_t before = settled_waits.load();
  if (fd < 0 || before % 2 == 0) return false;
  read();
  // Events the server sent that nobody has read yet wake the main thread
  // and would change what it keeps.
  pollfd unread{fd, POLLIN, 0};
  if (::poll(&unread, 1, 0) != 0) return false;
  return settled_waits.load() == before;
}

}  // namespace vesk::display_settled
