#include "browser/shadow_frame.h"

#include <gdk/gdkx.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"

// The shadow pieces compiled into this library (glib-compile-resources).
extern "C" GResource* vesk_shadow_get_resource(void);

namespace vesk {
namespace {

// Corrections of a shadow position that the window system does not keep
// (for instance a rectangle beyond the X coordinate range) stop after this
// many in a row instead of looping on their own configure notifications.
constexpr int kMaxConsecutiveCorrections = 3;

// Every GTK callback stops exceptions here: none may cross into C.

std::vector<uint8_t> LoadPiece(int id) {
  const std::string path = "/vesk/shadow/" + std::to_string(id) + ".bmp";
  GResource* resource = vesk_shadow_get_resource();
  g_autoptr(GError) error = nullptr;
  g_autoptr(GBytes) bytes =
      resource ? g_resource_lookup_data(resource, path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, &error)
               : nullptr;
  std::vector<uint8_t> piece;
  if (bytes == nullptr) {
    VESK_LOG(ERROR) << "Resource(" << id
                    << ") Couldn't be loaded: " << (error ? error->message : "no resource bundle");
    return piece;
  }
  gsize size = 0;
  const auto* data = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &size));
  if (size == 0 || data == nullptr)
    VESK_LOG(ERROR) << "Resouce(" << id << ") size is 0";
  else
    piece.assign(data, data + size);
  return piece;
}

// The window directly below the root that holds |window|: the window
// manager's frame when there is one, else the window itself. Stacking
// requests must name a sibling, and the shadow is a child of the root.
Window TopLevelAncestor(Display* display, Window window) {
  Window current = window;
  for (int depth = 0; depth < 16; ++depth) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, current, &root, &parent, &children, &count)) return window;
    if (children) XFree(children);
    if (parent == root || parent == 0) return current;
    current = parent;
  }
  return window;
}

}  // namespace

ShadowFrame::ShadowFrame(GtkWindow* host) : host_(host) {
  LoadGrid();
  shadow_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_POPUP));
  GtkWidget* widget = GTK_WIDGET(shadow_);
  gtk_window_set_decorated(shadow_, FALSE);
  gtk_window_set_accept_focus(shadow_, FALSE);
  gtk_window_set_focus_on_map(shadow_, FALSE);
  gtk_window_set_skip_taskbar_hint(shadow_, TRUE);
  gtk_window_set_skip_pager_hint(shadow_, TRUE);
  gtk_widget_set_app_paintable(widget, TRUE);
  screen_ = gtk_widget_get_screen(GTK_WIDGET(host_));
  gtk_window_set_screen(shadow_, screen_);
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen_))
    gtk_widget_set_visual(widget, visual);
  else
    VESK_LOG(WARNING) << "No visual with alpha: the window shadow stays invisible";
  gtk_widget_add_events(
      widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(widget, "configure-event", G_CALLBACK(OnShadowConfigure), this);
  g_signal_connect(widget, "draw", G_CALLBACK(OnShadowDraw), this);
  g_signal_connect(widget, "button-press-event", G_CALLBACK(OnShadowInput), this);
  g_signal_connect(widget, "button-release-event", G_CALLBACK(OnShadowInput), this);
  g_signal_connect(widget, "scroll-event", G_CALLBACK(OnShadowInput), this);
  g_signal_connect(screen_, "composited-changed", G_CALLBACK(OnCompositedChanged), this);

  target_ = ShadowRectForHost(HostScreenRect(nullptr), grid_.margins());
  gtk_window_move(shadow_, target_.x, target_.y);
  gtk_window_resize(shadow_, std::max(1, target_.width), std::max(1, target_.height));
  gtk_widget_realize(widget);
  ConnectHost();
  Follow(HostScreenRect(nullptr));
  UpdateVisibility();
}

ShadowFrame::~ShadowFrame() {
  DisconnectHost();
  if (screen_) g_signal_handlers_disconnect_by_data(screen_, this);
  if (shadow_) {
    g_signal_handlers_disconnect_by_data(shadow_, this);
    gtk_widget_destroy(GTK_WIDGET(shadow_));
  }
  if (image_) cairo_surface_destroy(image_);
}

void ShadowFrame::SetConstantAlpha(double opacity) {
  constant_alpha_ = ConstantAlphaForOpacity(opacity);
  if (shadow_) gtk_widget_set_opacity(GTK_WIDGET(shadow_), constant_alpha_ / 255.0);
}

void ShadowFrame::LoadGrid() {
  std::array<std::vector<uint8_t>, ShadowGrid::kCount> pieces;
  for (int i = 0; i < ShadowGrid::kCount; ++i) pieces[i] = LoadPiece(ShadowGrid::bmp_index(i));
  grid_.Load(std::move(pieces));
}

void ShadowFrame::ConnectHost() {
  GtkWidget* host = GTK_WIDGET(host_);
  g_signal_connect(host, "configure-event", G_CALLBACK(OnHostConfigure), this);
  g_signal_connect_after(host, "map", G_CALLBACK(OnHostMap), this);
  g_signal_connect(host, "unmap", G_CALLBACK(OnHostUnmap), this);
  g_signal_connect(host, "window-state-event", G_CALLBACK(OnHostWindowState), this);
  g_signal_connect(host, "focus-in-event", G_CALLBACK(OnHostFocusIn), this);
  g_signal_connect(host, "destroy", G_CALLBACK(OnHostDestroy), this);
}

void ShadowFrame::DisconnectHost() {
  if (host_) g_signal_handlers_disconnect_by_data(host_, this);
}

ShadowRect ShadowFrame::HostScreenRect(const GdkEventConfigure* event) const {
  if (event) return ShadowRect{event->x, event->y, event->width, event->height};
  ShadowRect rect;
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(host_));
  if (window && gtk_widget_get_realized(GTK_WIDGET(host_))) {
    gdk_window_get_origin(window, &rect.x, &rect.y);
    rect.width = gdk_window_get_width(window);
    rect.height = gdk_window_get_height(window);
  } else {
    gtk_window_get_position(host_, &rect.x, &rect.y);
    gtk_window_get_size(host_, &rect.width, &rect.height);
  }
  return rect;
}

void ShadowFrame::Follow(const ShadowRect& host) {
  if (!shadow_) return;
  const ShadowRect target = ShadowRectForHost(host, grid_.margins());
  if (!(target == target_)) corrections_ = 0;
  target_ = target;
  ApplyTarget();
  RestackBelowHost();
}

void ShadowFrame::ApplyTarget() {
  const int width = std::max(1, target_.width);
  const int height = std::max(1, target_.height);
  // GTK's own idea of the popup's geometry is kept equal to the target, so
  // its layout never moves the shadow back somewhere else.
  gtk_window_move(shadow_, target_.x, target_.y);
  gtk_window_resize(shadow_, width, height);
  if (GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(shadow_)))
    gdk_window_move_resize(window, target_.x, target_.y, width, height);
  if (width != drawn_width_ || height != drawn_height_) Redraw(width, height);
  UpdateShapes();
}

void ShadowFrame::RestackBelowHost() {
  if (!host_ || !shadow_ || !gtk_widget_get_realized(GTK_WIDGET(host_)) ||
      !gtk_widget_get_realized(GTK_WIDGET(shadow_)))
    return;
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(shadow_));
  if (!GDK_IS_X11_DISPLAY(display)) return;
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  XWindowChanges changes{};
  changes.sibling = TopLevelAncestor(xdisplay, GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(host_))));
  changes.stack_mode = Below;
  XConfigureWindow(xdisplay, GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(shadow_))),
                   CWSibling | CWStackMode, &changes);
  gdk_x11_display_error_trap_pop_ignored(display);
}

bool ShadowFrame::IsDirectlyBelowHost() const {
  if (!host_ || !shadow_ || !gtk_widget_get_realized(GTK_WIDGET(host_)) ||
      !gtk_widget_get_realized(GTK_WIDGET(shadow_)))
    return true;  // nothing to stack against yet
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(shadow_));
  if (!GDK_IS_X11_DISPLAY(display)) return true;
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  const Window host = TopLevelAncestor(xdisplay, GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(host_))));
  const Window shadow = GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(shadow_)));
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  bool below = true;
  if (XQueryTree(xdisplay, GDK_WINDOW_XID(gdk_screen_get_root_window(screen_)), &root, &parent, &children,
                 &count)) {
    // Children come bottom to top: the host must follow the shadow at once.
    below = false;
    for (unsigned int i = 0; i + 1 < count; ++i) {
      if (children[i] == shadow) {
        below = children[i + 1] == host;
        break;
      }
    }
    if (children) XFree(children);
  }
  gdk_x11_display_error_trap_pop_ignored(display);
  return below;
}

void ShadowFrame::UpdateVisibility() {
  if (!shadow_) return;
  bool show = false;
  if (host_ && gtk_widget_get_mapped(GTK_WIDGET(host_))) {
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(host_));
    show = window && !(gdk_window_get_state(window) & GDK_WINDOW_STATE_ICONIFIED);
  }
  GtkWidget* widget = GTK_WIDGET(shadow_);
  if (show) {
    if (!gtk_widget_get_visible(widget)) {
      Follow(HostScreenRect(nullptr));
      gtk_widget_show(widget);
    }
    // Mapping raises a window: put the shadow back below its host at once.
    RestackBelowHost();
  } else if (gtk_widget_get_visible(widget)) {
    gtk_widget_hide(widget);
  }
}

void ShadowFrame::Redraw(int width, int height) {
  std::vector<uint32_t> pixels;
  if (!grid_.Compose(width, height, &pixels)) return;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    VESK_LOG(ERROR) << "Shadow image of " << width << " x " << height << " could not be created";
    cairo_surface_destroy(image);
    return;
  }
  // Cairo's ARGB32 is the composed format: premultiplied, native-endian.
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (int y = 0; y < height; ++y)
    std::memcpy(data + static_cast<size_t>(y) * stride, pixels.data() + static_cast<size_t>(y) * width,
                static_cast<size_t>(width) * 4);
  cairo_surface_mark_dirty(image);
  if (image_) cairo_surface_destroy(image_);
  image_ = image;
  drawn_width_ = width;
  drawn_height_ = height;
  gtk_widget_queue_draw(GTK_WIDGET(shadow_));
}

void ShadowFrame::UpdateShapes() {
  GdkWindow* window = shadow_ ? gtk_widget_get_window(GTK_WIDGET(shadow_)) : nullptr;
  if (!window) return;
  // Without a compositing manager the X server shows an ARGB window's colour
  // without blending it: a solid dark frame. Then the shadow keeps its place
  // and stacking but shows no pixel at all.
  if (gdk_screen_is_composited(screen_)) {
    gdk_window_shape_combine_region(window, nullptr, 0, 0);
  } else {
    cairo_region_t* nothing = cairo_region_create();
    gdk_window_shape_combine_region(window, nothing, 0, 0);
    cairo_region_destroy(nothing);
  }
  // Input only on the margins: where the host lies, nothing of the shadow
  // can catch a click even if a window manager stacks it wrongly.
  const cairo_rectangle_int_t whole{0, 0, std::max(1, target_.width), std::max(1, target_.height)};
  const ShadowRect centre = ShadowCentre(target_.width, target_.height, grid_.margins());
  const cairo_rectangle_int_t hole{centre.x, centre.y, centre.width, centre.height};
  cairo_region_t* input = cairo_region_create_rectangle(&whole);
  cairo_region_subtract_rectangle(input, &hole);
  gdk_window_input_shape_combine_region(window, input, 0, 0);
  cairo_region_destroy(input);
}

void ShadowFrame::ForwardToHost(const GdkEvent* event) {
  if (!host_ || !gtk_widget_get_realized(GTK_WIDGET(host_))) return;
  GdkWindow* host_window = gtk_widget_get_window(GTK_WIDGET(host_));
  GdkWindow* shadow_window = gtk_widget_get_window(GTK_WIDGET(shadow_));
  if (!host_window || !shadow_window) return;
  ShadowRect shadow_rect;
  gdk_window_get_origin(shadow_window, &shadow_rect.x, &shadow_rect.y);
  const ShadowRect host_rect = HostScreenRect(nullptr);

  GdkEvent* copy = gdk_event_copy(event);
  g_clear_object(&copy->any.window);
  copy->any.window = GDK_WINDOW(g_object_ref(host_window));
  if (copy->type == GDK_SCROLL) {
    ShadowPointToHost(event->scroll.x, event->scroll.y, shadow_rect, host_rect, &copy->scroll.x,
                      &copy->scroll.y);
  } else {
    ShadowPointToHost(event->button.x, event->button.y, shadow_rect, host_rect, &copy->button.x,
                      &copy->button.y);
  }
  // Delivered as if the host had been clicked: its own handlers and any
  // grab of this process see it.
  gtk_main_do_event(copy);
}

gboolean ShadowFrame::OnHostConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
  Guarded("ShadowFrame::OnHostConfigure", [&] {
    auto* frame = static_cast<ShadowFrame*>(self);
    frame->Follow(frame->HostScreenRect(event));
  });
  return FALSE;
}

void ShadowFrame::OnHostMap(GtkWidget*, gpointer self) {
  Guarded("ShadowFrame::OnHostMap", [&] { static_cast<ShadowFrame*>(self)->UpdateVisibility(); });
}

void ShadowFrame::OnHostUnmap(GtkWidget*, gpointer self) {
  Guarded("ShadowFrame::OnHostUnmap", [&] {
    auto* frame = static_cast<ShadowFrame*>(self);
    if (frame->shadow_) gtk_widget_hide(GTK_WIDGET(frame->shadow_));
  });
}

gboolean ShadowFrame::OnHostWindowState(GtkWidget*, GdkEventWindowState*, gpointer self) {
  Guarded("ShadowFrame::OnHostWindowState", [&] { static_cast<ShadowFrame*>(self)->UpdateVisibility(); });
  return FALSE;
}

gboolean ShadowFrame::OnHostFocusIn(GtkWidget*, GdkEvent*, gpointer self) {
  // Activation usually raises the host; the shadow goes back under it.
  Guarded("ShadowFrame::OnHostFocusIn", [&] { static_cast<ShadowFrame*>(self)->RestackBelowHost(); });
  return FALSE;
}

void ShadowFrame::OnHostDestroy(GtkWidget*, gpointer self) {
  Guarded("ShadowFrame::OnHostDestroy", [&] {
    auto* frame = static_cast<ShadowFrame*>(self);
    frame->DisconnectHost();
    frame->host_ = nullptr;
    if (frame->shadow_) {
      g_signal_handlers_disconnect_by_data(frame->shadow_, frame);
      gtk_widget_destroy(GTK_WIDGET(frame->shadow_));
      frame->shadow_ = nullptr;
    }
  });
}

gboolean ShadowFrame::OnShadowConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
  Guarded("ShadowFrame::OnShadowConfigure", [&] {
    auto* frame = static_cast<ShadowFrame*>(self);
    // Only the host moves or restacks its shadow: anything else is undone.
    const ShadowRect actual{event->x, event->y, event->width, event->height};
    const bool moved = !(actual == frame->target_);
    if (!moved && frame->IsDirectlyBelowHost()) {
      frame->corrections_ = 0;
      return;
    }
    if (frame->corrections_ >= kMaxConsecutiveCorrections) return;
    ++frame->corrections_;
    if (moved) frame->ApplyTarget();
    frame->RestackBelowHost();
  });
  return FALSE;
}

gboolean ShadowFrame::OnShadowDraw(GtkWidget*, cairo_t* cr, gpointer self) {
  Guarded("ShadowFrame::OnShadowDraw", [&] {
    auto* frame = static_cast<ShadowFrame*>(self);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    if (frame->image_) {
      cairo_set_source_surface(cr, frame->image_, 0, 0);
      cairo_rectangle(cr, 0, 0, frame->drawn_width_, frame->drawn_height_);
      cairo_fill(cr);
    }
  });
  return TRUE;
}

gboolean ShadowFrame::OnShadowInput(GtkWidget*, GdkEvent* event, gpointer self) {
  Guarded("ShadowFrame::OnShadowInput", [&] { static_cast<ShadowFrame*>(self)->ForwardToHost(event); });
  return TRUE;
}

void ShadowFrame::OnCompositedChanged(GdkScreen*, gpointer self) {
  Guarded("ShadowFrame::OnCompositedChanged", [&] { static_cast<ShadowFrame*>(self)->UpdateShapes(); });
}

}  // namespace vesk
