// The window operations of BrowserHost that pages ask for: position, size
// limits, opacity, stacking, showing, menus and moving or sizing with the
// mouse.
#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

#include "browser/browser_host.h"
#include "browser/popup_menu.h"
#include "vesk/core/browser/popup_menu_model.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

// The window's rectangle as the X server has it now, or nothing off X11 or
// when the server refuses. Both requests go out together and are answered
// in one round trip; GTK's frame extents would ask four times.
std::optional<WindowRect> ServerRect(GdkWindow* window) {
  if (!GDK_IS_X11_WINDOW(window)) return std::nullopt;
  xcb_connection_t* connection = XGetXCBConnection(GDK_WINDOW_XDISPLAY(window));
  const xcb_window_t xid = static_cast<xcb_window_t>(GDK_WINDOW_XID(window));
  const xcb_window_t root = static_cast<xcb_window_t>(GDK_WINDOW_XID(gdk_get_default_root_window()));
  const xcb_get_geometry_cookie_t size_cookie = xcb_get_geometry(connection, xid);
  const xcb_translate_coordinates_cookie_t origin_cookie =
      xcb_translate_coordinates(connection, xid, root, 0, 0);
  // Errors are collected here, not sent to the toolkit's error handler.
  xcb_generic_error_t* size_error = nullptr;
  xcb_generic_error_t* origin_error = nullptr;
  std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> size(
      xcb_get_geometry_reply(connection, size_cookie, &size_error), &free);
  std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&free)> origin(
      xcb_translate_coordinates_reply(connection, origin_cookie, &origin_error), &free);
  free(size_error);
  free(origin_error);
  if (!size || !origin) return std::nullopt;
  return WindowRect{origin->dst_x, origin->dst_y, origin->dst_x + size->width, origin->dst_y + size->height};
}

}  // namespace

namespace {

GdkRectangle WorkAreaOf(GtkWindow* window) {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
  GdkMonitor* monitor = gdk_window ? gdk_display_get_monitor_at_window(display, gdk_window) : nullptr;
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  return area;
}

GdkRectangle PrimaryWorkArea(GtkWindow* window) {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  return area;
}

}  // namespace

void BrowserHost::CenterOnWorkArea() {
  gtk_widget_realize(GTK_WIDGET(window_));
  const GdkRectangle area = WorkAreaOf(window_);
  int width = 0, height = 0;
  gtk_window_get_size(window_, &width, &height);
  int x = area.x + (area.width - width) / 2;
  int y = area.y + (area.height - height) / 2;
  x = std::max(area.x, std::min(x, area.x + area.width - width));
  y = std::max(area.y, std::min(y, area.y + area.height - height));
  gtk_window_move(window_, x, y);
  ForgetServerRect();
}

bool BrowserHost::IsMaximized() const {
  GdkWindow* gdk_window = window_ ? gtk_widget_get_window(GTK_WIDGET(window_)) : nullptr;
  return gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_MAXIMIZED);
}

bool BrowserHost::IsMinimized() const {
  GdkWindow* gdk_window = window_ ? gtk_widget_get_window(GTK_WIDGET(window_)) : nullptr;
  return gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_ICONIFIED);
}

bool BrowserHost::IsShown() const { return window_ && gtk_widget_get_visible(GTK_WIDGET(window_)); }

void BrowserHost::PopUpMenu(const std::string& json) {
  ShowPopupMenu(window_, GTK_WIDGET(browser_), json,
                [alive = std::weak_ptr<bool>(alive_), this](int command_id) {
                  if (alive.expired()) return;
                  if (const auto script = MenuClickScript(command_id)) ExecuteScript(*script);
                });
}

void BrowserHost::LaunchWindow(const LaunchRequest& request) { pending_launch_ = request; }

void BrowserHost::SetIcon(const std::string& file_path) {
  g_autoptr(GdkPixbuf) icon = gdk_pixbuf_new_from_file(file_path.c_str(), nullptr);
  // A file that cannot be loaded leaves the window without an icon.
  gtk_window_set_icon(window_, icon);
}

std::string BrowserHost::SetPosition(const PositionRequest& request) {
  std::string error = PositionRequestError(request);
  const WindowPosition current = GetPosition();
  const WindowRect target = ApplyPositionRequest(current.rect, request);
  gtk_window_move(window_, target.left, target.top);
  ForgetServerRect();
  if (target.width() > 0 && target.height() > 0) ResizeAsAsked(target.width(), target.height());
  if (request.topmost.type == PositionRequest::Type::kValid) {
    topmost_ = request.topmost.value;
    gtk_window_set_keep_above(window_, topmost_);
    PublishState();
  }
  // Activation brings a shown window to the foreground; it never shows a
  // hidden one (presenting a GTK window would map it).
  if (request.active.type == PositionRequest::Type::kValid && request.active.value && IsShown())
    gtk_window_present(window_);
  return error;
}

WindowPosition BrowserHost::GetPosition() {
  WindowPosition position;
  position.topmost = topmost_;
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window_));
  if (gdk_window && gtk_widget_get_mapped(GTK_WIDGET(window_))) {
    // The window has no frame of its own: its rectangle on the server is
    // its frame. The one asked for before still holds unless something may
    // have changed it since; an event not handled yet (one the server has
    // sent, or that GDK holds) may be such a change.
    if (!server_rect_ || gdk_events_pending()) {
      server_rect_ = ServerRect(gdk_window);
      PublishState();
    }
    if (server_rect_) {
      position.rect = *server_rect_;
      return position;
    }
    GdkRectangle frame{};
    gdk_window_get_frame_extents(gdk_window, &frame);
    position.rect = {frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
    return position;
  }
  int x = 0, y = 0, width = 0, height = 0;
  gtk_window_get_position(window_, &x, &y);
  gtk_window_get_size(window_, &width, &height);
  position.rect = {x, y, x + width, y + height};
  return position;
}

void BrowserHost::SetSizeLimit(int width, int height, bool is_maximum) {
  (is_maximum ? maximum_size_ : minimum_size_) = Size{width, height};
  // New limits never resize the window; they bound the user's next sizing.
  // The size last asked for is what GTK would hold to the limits (the
  // window's own size may not have caught up with it yet).
  size_limits_lifted_ = !WithinSizeLimits(asked_size_.width, asked_size_.height);
  limits_back_on_resize_ = false;
  ApplySizeLimits();
}

SizeLimits BrowserHost::CurrentSizeLimits() const {
  const GdkRectangle area = PrimaryWorkArea(window_);
  // An undecorated window has no sizing frame of its own.
  return ComputeSizeLimits(Size{area.width, area.height}, IsMaximized(), Size{0, 0}, minimum_size_,
                           maximum_size_);
}

bool BrowserHost::WithinSizeLimits(int width, int height) const {
  const SizeLimits limits = CurrentSizeLimits();
  return width >= limits.minimum.width && height >= limits.minimum.height && width <= limits.maximum.width &&
         height <= limits.maximum.height;
}

void BrowserHost::ApplySizeLimits() {
  // The limits bound what the user does with the mouse (and maximising).
  // GTK and the window manager hold every size to the geometry hints, so
  // while the page has given the window a size outside the limits the
  // hints are lifted; they come back when the user starts sizing the window,
  // when it is maximised, or when a size inside the limits is asked for.
  if (size_limits_lifted_) {
    GdkGeometry geometry{};
    geometry.min_width = 1;
    geometry.min_height = 1;
    gtk_window_set_geometry_hints(window_, nullptr, &geometry, GDK_HINT_MIN_SIZE);
    return;
  }
  const SizeLimits limits = CurrentSizeLimits();
  GdkGeometry geometry{};
  geometry.min_width = std::max(1, limits.minimum.width);
  geometry.min_height = std::max(1, limits.minimum.height);
  geometry.max_width = std::max(geometry.min_width, limits.maximum.width);
  geometry.max_height = std::max(geometry.min_height, limits.maximum.height);
  gtk_window_set_geometry_hints(window_, nullptr, &geometry,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

void BrowserHost::EnforceSizeLimits() {
  limits_back_on_resize_ = false;
  if (!size_limits_lifted_) return;
  size_limits_lifted_ = false;
  ApplySizeLimits();
}

void BrowserHost::ResizeAsAsked(int width, int height) {
  // The page's own sizes are not bound by the limits (only the user's are).
  asked_size_ = Size{width, height};
  if (!WithinSizeLimits(width, height)) {
    limits_back_on_resize_ = false;
    if (!size_limits_lifted_) {
      size_limits_lifted_ = true;
      ApplySizeLimits();  // before the resize, which they would bound
    }
  } else if (size_limits_lifted_) {
    // The limits come back once the window has a size inside them. Put
    // back now, they would make a window manager hold the window's present
    // size (outside them) to them at once, possibly after carrying out the
    // resize asked for here, which would then be lost.
    limits_back_on_resize_ = true;
  }
  gtk_window_resize(window_, width, height);
  ForgetServerRect();
}

void BrowserHost::OnResized(int width, int height) {
  if (!limits_back_on_resize_ || !WithinSizeLimits(width, height)) return;
  EnforceSizeLimits();
}

void BrowserHost::SetTitle(const std::string& title) { gtk_window_set_title(window_, title.c_str()); }

void BrowserHost::SetOpacity(double opacity) {
  if (std::isnan(opacity)) return;
  const bool was_layered = layered_;
  // Window-level constant alpha (the _NET_WM_WINDOW_OPACITY a compositor
  // applies), not per-widget painting: the page's own alpha stays as drawn.
  gtk_widget_realize(GTK_WIDGET(window_));
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window_));
  if (opacity >= 1) {
    layered_ = false;
    gdk_window_set_opacity(gdk_window, 1.0);
    if (shadow_frame_) shadow_frame_->SetConstantAlpha(1.0);
  } else if (opacity >= 0) {
    layered_ = true;
  }
  // A window that just became translucent again gets its alpha back even
  // when the value is unchanged; it would otherwise stay opaque while
  // reporting a translucent value.
  if (opacity == opacity_ && !(layered_ && !was_layered)) return;
  if (!layered_) return;  // the alpha applies to translucent windows only
  const double truncated = std::trunc(opacity * 255.0);
  // Values this large are whole multiples of 256 in their low bits; an
  // infinite one (-Infinity) is taken the same way: alpha 0.
  double alpha = std::isfinite(truncated) ? std::fmod(truncated, 256.0) : 0.0;
  if (alpha < 0) alpha += 256.0;
  gdk_window_set_opacity(gdk_window, alpha / 255.0);
  if (shadow_frame_) shadow_frame_->SetConstantAlpha(opacity);
  opacity_ = opacity;
  PublishState();
}

void BrowserHost::BringToTop() {
  if (IsMinimized()) gtk_window_deiconify(window_);
  // Above everything for a moment, then an ordinary window again: raised
  // over all other ordinary windows, and no longer topmost.
  gtk_window_set_keep_above(window_, TRUE);
  gtk_window_set_keep_above(window_, FALSE);
  topmost_ = false;
  PublishState();
  gtk_widget_show(GTK_WIDGET(window_));
  gtk_window_present(window_);
  if (browser_) gtk_widget_grab_focus(GTK_WIDGET(browser_));
}

void BrowserHost::ShowWindow(ShowCommand command) {
  // Restoring, minimising and maximising a hidden window also show it, in
  // that state; GTK takes the state first, so the window maps in it.
  const bool hidden = !IsShown();
  switch (command) {
    case ShowCommand::kShow:
      Show();
      break;
    case ShowCommand::kHide:
      gtk_widget_hide(GTK_WIDGET(window_));
      break;
    case ShowCommand::kRestore:
      gtk_window_deiconify(window_);
      gtk_window_unmaximize(window_);
      if (hidden) Show();
      break;
    case ShowCommand::kMinimize:
      gtk_window_iconify(window_);
      if (hidden) gtk_widget_show(GTK_WIDGET(window_));  // minimised, not activated
      break;
    case ShowCommand::kMaximize:
      EnforceSizeLimits();  // the limits bound the maximised size
      gtk_window_maximize(window_);
      if (hidden) Show();
      break;
  }
}

void BrowserHost::BeginMoveDrag() {
  if (IsMinimized() || IsMaximized()) return;
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  int x = 0, y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  gtk_window_begin_move_drag(window_, 1, x, y, gtk_get_current_event_time());
}

void BrowserHost::BeginResizeDrag(GdkWindowEdge edge) {
  if (IsMinimized() || IsMaximized()) return;
  EnforceSizeLimits();  // the user's sizing is bound by the limits
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  int x = 0, y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  gtk_window_begin_resize_drag(window_, edge, 1, x, y, gtk_get_current_event_time());
}

WindowStatus BrowserHost::GetWindowStatus() {
  WindowStatus status;
  status.visible = gtk_widget_get_visible(GTK_WIDGET(window_));
  status.status = IsMaximized() ? "maximize" : IsMinimized() ? "minimize" : "restore";
  return status;
}

void BrowserHost::SendMouseClick(int x, int y) {
  if (!browser_) return;
  GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(browser_));
  if (!target) return;
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(browser_));
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    g_autoptr(GdkEvent) event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(target));
    event->button.send_event = TRUE;
    event->button.time = GDK_CURRENT_TIME;
    event->button.x = x;
    event->button.y = y;
    event->button.button = 1;
    if (type == GDK_BUTTON_RELEASE) event->button.state = GDK_BUTTON1_MASK;
    gdk_event_set_device(event, pointer);
    gtk_main_do_event(event);
  }
}

}  // namespace vesk
