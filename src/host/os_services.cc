#include "os_services.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <set>

#include "vesk/core/external_opener.h"
#include "vesk/core/logging.h"
#include "vesk/core/update/installer_launch.h"

namespace vesk {
namespace {

long OwnPid(Display* display, Window window) {
  static Atom pid_atom = XInternAtom(display, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = 0;
  if (XGetWindowProperty(display, window, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                         &data) == Success &&
      data && items == 1 && format == 32)
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pid;
}

// The owner of a top-level window: its own _NET_WM_PID, or, when a window
// manager has put a frame around the client, the client's inside the frame.
constexpr int kFrameDepth = 3;

long WindowPid(Display* display, Window window, int depth = 1) {
  if (const long pid = OwnPid(display, window)) return pid;
  if (depth >= kFrameDepth) return 0;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  long pid = 0;
  for (unsigned int i = count; i > 0 && !pid; --i) pid = WindowPid(display, children[i - 1], depth + 1);
  if (children) XFree(children);
  return pid;
}

bool HasWindowType(Display* display, Window window, const std::set<Atom>& types) {
  static Atom type_atom = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(display, window, type_atom, 0, 16, False, XA_ATOM, &type, &format, &items, &after,
                         &data) == Success &&
      data && format == 32) {
    const auto* atoms = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < items && !found; ++i) found = types.count(static_cast<Atom>(atoms[i])) > 0;
  }
  if (data) XFree(data);
  return found;
}

// Adds the owners of |window| and the windows inside it (a window manager's
// frame holds its client) that are typed desktop or dock.
void AddShellProcesses(Display* display, Window window, const std::set<Atom>& shell_types, int depth,
                       std::set<long>* pids) {
  if (HasWindowType(display, window, shell_types)) {
    if (const long pid = OwnPid(display, window)) pids->insert(pid);
    return;
  }
  if (depth >= kFrameDepth) return;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
  for (unsigned int i = 0; i < count; ++i)
    AddShellProcesses(display, children[i], shell_types, depth + 1, pids);
  if (children) XFree(children);
}

// The processes that own the desktop and its panels: the owners of the
// windows typed desktop or dock.
std::set<long> ShellProcesses(Display* display) {
  const std::set<Atom> shell_types{XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False),
                                   XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False)};
  std::set<long> pids;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return pids;
  for (unsigned int i = 0; i < count; ++i) AddShellProcesses(display, children[i], shell_types, 1, &pids);
  if (children) XFree(children);
  return pids;
}

// The top-level (child of the root) window under a point.
Window TopLevelAt(Display* display, int x, int y) {
  const Window root = DefaultRootWindow(display);
  Window child = 0;
  int child_x = 0, child_y = 0;
  if (!XTranslateCoordinates(display, root, root, x, y, &child_x, &child_y, &child)) return 0;
  return child;
}

// The handler gets the user's environment: without the variables we set
// for the engine's network process, with the user's own values back.
GAppLaunchContext* ChildLaunchContext() {
  GAppLaunchContext* launch = g_app_launch_context_new();
  g_auto(GStrv) ours = g_get_environ();
  for (gchar** entry = ours; entry && *entry; ++entry) {
    const std::string text = *entry;
    g_app_launch_context_unsetenv(launch, text.substr(0, text.find('=')).c_str());
  }
  for (const std::string& entry : update::ChildEnvironment(ours)) {
    const size_t equals = entry.find('=');
    if (equals != std::string::npos)
      g_app_launch_context_setenv(launch, entry.substr(0, equals).c_str(), entry.c_str() + equals + 1);
  }
  return launch;
}

}  // namespace

void OpenExternal(const std::string& target) {
  // One worker for the life of the process, like the IO worker: a page may
  // ask for this in a loop, and neither threads nor handler processes may
  // grow with it.
  static auto* opener = new ExternalOpener([](const std::string& external) {
    g_autoptr(GError) error = nullptr;
    g_autofree gchar* scheme = g_uri_parse_scheme(external.c_str());
    g_autofree gchar* uri =
        scheme ? g_strdup(external.c_str()) : g_filename_to_uri(external.c_str(), nullptr, &error);
    g_autoptr(GAppLaunchContext) launch = ChildLaunchContext();
    if (uri && !g_app_info_launch_default_for_uri(uri, launch, &error))
      VESK_LOG(WARNING) << "Cannot open " << external << ": " << (error ? error->message : "");
  });
  opener->Submit(target);
}

namespace {

// Other clients' windows may go away between two requests about them: their
// X errors are ignored instead of ending the program.
class XErrorsIgnored {
 public:
  explicit XErrorsIgnored(GdkDisplay* display) : display_(display) {
    gdk_x11_display_error_trap_push(display_);
  }
  ~XErrorsIgnored() { gdk_x11_display_error_trap_pop_ignored(display_); }
  XErrorsIgnored(const XErrorsIgnored&) = delete;
  XErrorsIgnored& operator=(const XErrorsIgnored&) = delete;

 private:
  GdkDisplay* display_;
};

}  // namespace

bool HasFullScreenWindowOfOtherProcess() {
  GdkDisplay* gdk_display = gdk_display_get_default();
  if (!gdk_display || !GDK_IS_X11_DISPLAY(gdk_display)) return false;
  const XErrorsIgnored ignored(gdk_display);
  Display* display = GDK_DISPLAY_XDISPLAY(gdk_display);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(gdk_display);
  if (!monitor) monitor = gdk_display_get_monitor(gdk_display, 0);
  if (!monitor) return false;
  GdkRectangle area{};
  gdk_monitor_get_geometry(monitor, &area);
  // The points one pixel inside the corners; nothing of a window (the
  // root, a desktop without its own process) counts as no owner.
  const int right = area.x + area.width - 1, bottom = area.y + area.height - 1;
  const int corners[4][2] = {
      {area.x + 1, area.y + 1}, {area.x + 1, bottom}, {right, area.y + 1}, {right, bottom}};
  std::set<long> pids;
  long bottom_left_pid = 0;
  for (const auto& corner : corners) {
    const Window window = TopLevelAt(display, corner[0], corner[1]);
    if (!window) return false;
    const long pid = WindowPid(display, window);
    if (corner[0] == area.x + 1 && corner[1] == bottom) bottom_left_pid = pid;
    pids.insert(pid);
  }
  // The desktop or a panel at the bottom-left corner: nothing covers the
  // screen, even when the desktop's own window fills it.
  if (bottom_left_pid != 0 && ShellProcesses(display).count(bottom_left_pid)) return false;
  // The application's own windows count like any other.
  return pids.size() == 1 && *pids.begin() != 0;
}

WindowRect PrimaryWorkArea() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  return {area.x, area.y, area.x + area.width, area.y + area.height};
}

double MillisecondsSinceLastInput() {
  GdkDisplay* gdk_display = gdk_display_get_default();
  if (!gdk_display || !GDK_IS_X11_DISPLAY(gdk_display)) return 0;
  Display* display = GDK_DISPLAY_XDISPLAY(gdk_display);
  int event_base = 0, error_base = 0;
  if (!XScreenSaverQueryExtension(display, &event_base, &error_base)) return 0;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return 0;
  double idle = 0;
  if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info))
    idle = static_cast<double>(info->idle);
  XFree(info);
  return idle;
}

}  // namespace vesk
