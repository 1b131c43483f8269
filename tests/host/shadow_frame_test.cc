// The window shadow against real X windows: geometry, stacking, showing and
// hiding, clicks and pixels as the X server and a compositing manager see
// them. The test starts the compositing manager itself; an X server alone
// shows an ARGB window without blending it.
//
//   shadow_frame_test [--screenshot=PATH]   (PATH: PNG of a window with its shadow)
#include "browser/shadow_frame.h"

// clang-format off
// gtest first: Xlib defines None, which gtest uses as a name.
#include <gtest/gtest.h>
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shadow_art.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

std::string g_screenshot_path;
GPid g_compositor = 0;

// Runs the main loop until |done| holds; false after |timeout_ms|. Tests wait
// for what they expect like this, never for a fixed time (docs/testing.md).
bool SpinUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    gdk_display_sync(gdk_display_get_default());
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_usleep(2000);
  }
}

// Handles everything the main loop has pending now.
void DrainMainLoop() {
  gdk_display_sync(gdk_display_get_default());
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

Display* XDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }
Window XWindowOf(GtkWindow* window) { return GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(window))); }

// The window's rectangle in root coordinates, as the X server has it.
ShadowRect XGeometry(Window window) {
  Display* display = XDisplay();
  Window root = 0, child = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth);
  XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
  return ShadowRect{x, y, static_cast<int>(width), static_cast<int>(height)};
}

int MapState(Window window) {
  XWindowAttributes attributes{};
  XGetWindowAttributes(XDisplay(), window, &attributes);
  return attributes.map_state;
}

// Position of |window| among the root's children, bottom first.
int StackIndex(Window window) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  XQueryTree(XDisplay(), DefaultRootWindow(XDisplay()), &root, &parent, &children, &count);
  int index = -1;
  for (unsigned int i = 0; i < count; ++i)
    if (children[i] == window) index = static_cast<int>(i);
  if (children) XFree(children);
  return index;
}

bool StartCompositor() {
  if (g_compositor) return true;
  gchar* path = g_find_program_in_path("xcompmgr");
  if (!path) return false;
  gchar* argv[] = {path, nullptr};
  GError* error = nullptr;
  const bool started =
      g_spawn_async(nullptr, argv, nullptr,
                    static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                    nullptr, &g_compositor, &error);
  g_free(path);
  if (!started) {
    fprintf(stderr, "xcompmgr: %s\n", error->message);
    g_error_free(error);
    return false;
  }
  return SpinUntil([] { return gdk_screen_is_composited(gdk_screen_get_default()); }, 10000);
}

void StopCompositor() {
  if (!g_compositor) return;
  kill(g_compositor, SIGTERM);
  waitpid(g_compositor, nullptr, 0);
  g_spawn_close_pid(g_compositor);
  g_compositor = 0;
  SpinUntil([] { return !gdk_screen_is_composited(gdk_screen_get_default()); }, 10000);
}

struct Click {
  GdkEventType type;
  GdkWindow* window;
  double x, y;
};

// A screen-filling white window at the bottom, so the shadow has something
// to fall on and pixels can be judged.
GtkWidget* NewBackdrop() {
  GtkWidget* backdrop = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_move(GTK_WINDOW(backdrop), 0, 0);
  gtk_window_resize(GTK_WINDOW(backdrop), 1280, 1024);
  gtk_widget_set_app_paintable(backdrop, TRUE);
  g_signal_connect(backdrop, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) -> gboolean {
                     cairo_set_source_rgb(cr, 1, 1, 1);
                     cairo_paint(cr);
                     return TRUE;
                   }),
                   nullptr);
  gtk_widget_show(backdrop);
  return backdrop;
}

gboolean DrawHost(GtkWidget* widget, cairo_t* cr, gpointer) {
  const int width = gtk_widget_get_allocated_width(widget);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgb(cr, 0.96, 0.97, 0.98);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.16, 0.42, 0.69);
  cairo_rectangle(cr, 0, 0, width, 36);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 15);
  cairo_move_to(cr, 14, 23);
  cairo_show_text(cr, "Pelicard");
  return TRUE;
}

class ShadowFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartCompositor()) << "xcompmgr (scripts/setup.sh installs it) is needed";
    backdrop_ = NewBackdrop();
    // An undecorated window with an alpha visual, like a browser host.
    host_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_decorated(host_, FALSE);
    gtk_widget_set_app_paintable(GTK_WIDGET(host_), TRUE);
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(gdk_screen_get_default()))
      gtk_widget_set_visual(GTK_WIDGET(host_), visual);
    gtk_widget_add_events(GTK_WIDGET(host_),
                          GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK);
    g_signal_connect(host_, "draw", G_CALLBACK(DrawHost), nullptr);
    g_signal_connect(host_, "button-press-event", G_CALLBACK(OnHostInput), this);
    g_signal_connect(host_, "button-release-event", G_CALLBACK(OnHostInput), this);
    g_signal_connect(host_, "scroll-event", G_CALLBACK(OnHostInput), this);
    gtk_window_move(host_, 100, 100);
    gtk_window_resize(host_, 800, 600);
    frame_ = std::make_unique<ShadowFrame>(host_);
  }

  void TearDown() override {
    frame_.reset();
    if (host_) gtk_widget_destroy(GTK_WIDGET(host_));
    gtk_widget_destroy(backdrop_);
    DrainMainLoop();
  }

  static gboolean OnHostInput(GtkWidget*, GdkEvent* event, gpointer self) {
    Click click{event->type, event->any.window, 0, 0};
    if (event->type == GDK_SCROLL) {
      click.x = event->scroll.x;
      click.y = event->scroll.y;
    } else {
      click.x = event->button.x;
      click.y = event->button.y;
    }
    static_cast<ShadowFrameTest*>(self)->clicks_.push_back(click);
    return TRUE;
  }

  Window Shadow() const { return XWindowOf(frame_->window()); }
  Window Host() const { return XWindowOf(host_); }

  // Shows the host and waits until both windows are on screen where expected.
  void ShowAt(int x, int y, int width, int height) {
    gtk_window_move(host_, x, y);
    gtk_window_resize(host_, width, height);
    gtk_widget_show(GTK_WIDGET(host_));
    const ShadowRect expected = testing::ArtworkShadowAround({x, y, width, height});
    ASSERT_TRUE(SpinUntil([&] {
      return MapState(Host()) == IsViewable && MapState(Shadow()) == IsViewable &&
             XGeometry(Shadow()) == expected && XGeometry(Host()) == (ShadowRect{x, y, width, height});
    })) << "shadow at "
        << XGeometry(Shadow()).x << "," << XGeometry(Shadow()).y;
  }

  static int Red(GdkPixbuf* pixbuf, int x, int y) {
    return gdk_pixbuf_get_pixels(
        pixbuf)[y * gdk_pixbuf_get_rowstride(pixbuf) + x * gdk_pixbuf_get_n_channels(pixbuf)];
  }

  // Screenshots of the whole screen until |shows| holds for one (the
  // compositor paints a change some frames later); returns the last one.
  GdkPixbuf* ScreenshotWhen(const std::function<bool(GdkPixbuf*)>& shows) {
    GdkPixbuf* shot = nullptr;
    SpinUntil([&] {
      if (shot) g_object_unref(shot);
      GdkWindow* root = gdk_get_default_root_window();
      shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
      return shot && shows(shot);
    });
    return shot;
  }

  GtkWidget* backdrop_ = nullptr;
  GtkWindow* host_ = nullptr;
  std::unique_ptr<ShadowFrame> frame_;
  std::vector<Click> clicks_;
};

TEST_F(ShadowFrameTest, LiesAroundTheHostAndFollowsItsMovesAndSizes) {
  EXPECT_EQ(frame_->margins(), testing::ArtworkMargins());
  ShowAt(100, 100, 800, 600);
  EXPECT_EQ(XGeometry(Shadow()), testing::ArtworkShadowAround({100, 100, 800, 600}));
  EXPECT_EQ(frame_->target(), testing::ArtworkShadowAround({100, 100, 800, 600}));

  gtk_window_move(host_, 300, 200);
  gtk_window_resize(host_, 640, 480);
  EXPECT_TRUE(SpinUntil([&] {
    return XGeometry(Shadow()) == testing::ArtworkShadowAround({300, 200, 640, 480});
  }));

  // A tiny host: its shadow is still above the minimum drawable size.
  gtk_widget_set_size_request(GTK_WIDGET(host_), 10, 10);
  gtk_window_resize(host_, 10, 10);
  EXPECT_TRUE(SpinUntil([&] {
    return XGeometry(Shadow()) == testing::ArtworkShadowAround({300, 200, 10, 10});
  })) << XGeometry(Shadow()).width
      << "x" << XGeometry(Shadow()).height;
}

TEST_F(ShadowFrameTest, StaysDirectlyBelowTheHostAndOnlyTheHostMovesIt) {
  ShowAt(100, 100, 800, 600);
  EXPECT_EQ(StackIndex(Shadow()) + 1, StackIndex(Host()));

  // Another program moves and raises the shadow: both are undone.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XMoveResizeWindow(other, Shadow(), 5, 7, 300, 200);
  XRaiseWindow(other, Shadow());
  XSync(other, False);
  EXPECT_TRUE(SpinUntil([&] {
    return XGeometry(Shadow()) == testing::ArtworkShadowAround({100, 100, 800, 600}) &&
           StackIndex(Shadow()) + 1 == StackIndex(Host());
  }));
  // Raising the host elsewhere keeps the pair together.
  XRaiseWindow(other, Host());
  XSync(other, False);
  EXPECT_TRUE(SpinUntil([&] { return StackIndex(Shadow()) + 1 == StackIndex(Host()); }));
  XCloseDisplay(other);
}

TEST_F(ShadowFrameTest, HidesAndShowsInTheSameStepAsTheHost) {
  ShowAt(100, 100, 800, 600);
  gtk_widget_hide(GTK_WIDGET(host_));
  // No turn of the main loop in between: the shadow went with the host.
  EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(frame_->window())));
  XSync(XDisplay(), False);
  EXPECT_EQ(MapState(Host()), IsUnmapped);
  EXPECT_EQ(MapState(Shadow()), IsUnmapped);

  gtk_widget_show(GTK_WIDGET(host_));
  EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(frame_->window())));
  XSync(XDisplay(), False);
  EXPECT_EQ(MapState(Host()), IsViewable);
  EXPECT_EQ(MapState(Shadow()), IsViewable);
  EXPECT_EQ(StackIndex(Shadow()) + 1, StackIndex(Host()));
}

TEST_F(ShadowFrameTest, ClicksAndWheelOnTheShadowReachTheHostInHostCoordinates) {
  ShowAt(100, 100, 800, 600);
  Display* display = XDisplay();
  auto click = [&](int x, int y, unsigned int button) {
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XFlush(display);
  };
  click(95, 400, 1);  // left margin
  ASSERT_TRUE(SpinUntil([&] { return clicks_.size() >= 2; }));
  EXPECT_EQ(clicks_[0].type, GDK_BUTTON_PRESS);
  EXPECT_EQ(clicks_[0].window, gtk_widget_get_window(GTK_WIDGET(host_)));
  EXPECT_EQ(clicks_[0].x, -5);
  EXPECT_EQ(clicks_[0].y, 300);
  EXPECT_EQ(clicks_[1].type, GDK_BUTTON_RELEASE);
  EXPECT_EQ(clicks_[1].x, -5);

  clicks_.clear();
  click(500, 706, 3);  // bottom margin, right button
  ASSERT_TRUE(SpinUntil([&] { return clicks_.size() >= 2; }));
  EXPECT_EQ(clicks_[0].x, 400);
  EXPECT_EQ(clicks_[0].y, 606);

  clicks_.clear();
  click(895, 96, 4);  // wheel up over the top-right corner piece
  ASSERT_TRUE(SpinUntil([&] { return !clicks_.empty(); }));
  EXPECT_EQ(clicks_[0].type, GDK_SCROLL);
  EXPECT_EQ(clicks_[0].x, 795);
  EXPECT_EQ(clicks_[0].y, -4);

  // Inside the host the host gets the click directly, as always.
  clicks_.clear();
  click(150, 150, 1);
  ASSERT_TRUE(SpinUntil([&] { return !clicks_.empty(); }));
  EXPECT_EQ(clicks_[0].x, 50);
  EXPECT_EQ(clicks_[0].y, 50);
}

TEST_F(ShadowFrameTest, ScreenShowsASoftShadowOverWhite) {
  ShowAt(100, 100, 800, 600);
  const ShadowMargins m = testing::ArtworkMargins();
  // What the screen must show, all at once: the compositor may first paint
  // the shadow window before its image, so shots are taken until one does.
  auto soft_shadow = [&](GdkPixbuf* shot) {
    // Right next to the host's left edge, below it and right of it: clearly
    // shaded, yet blended with the white below (not the raw dark colour).
    for (const auto& [x, y] : {std::pair{99, 400}, std::pair{500, 700}, std::pair{900, 400}})
      if (Red(shot, x, y) >= 235 || Red(shot, x, y) <= 60) return false;
    // The outer rim of the margin fades out to the white below; beyond the
    // margin, white. The shadow gets lighter away from the host. The host
    // itself is untouched by its shadow.
    return Red(shot, 100 - m.left, 400) >= 245 && Red(shot, 100 - m.left - 11, 400) == 255 &&
           Red(shot, 98, 400) < Red(shot, 94, 400) && Red(shot, 400, 300) == 245;
  };
  GdkPixbuf* shot = ScreenshotWhen(soft_shadow);
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(soft_shadow(shot)) << "left " << Red(shot, 99, 400) << ", below " << Red(shot, 500, 700)
                                 << ", right " << Red(shot, 900, 400) << ", rim "
                                 << Red(shot, 100 - m.left, 400) << ", outside "
                                 << Red(shot, 100 - m.left - 11, 400) << ", 98/94 " << Red(shot, 98, 400)
                                 << "/" << Red(shot, 94, 400) << ", host " << Red(shot, 400, 300);
  if (!g_screenshot_path.empty()) {
    GdkPixbuf* crop = gdk_pixbuf_new_subpixbuf(shot, 60, 60, 880, 680);
    GError* error = nullptr;
    EXPECT_TRUE(gdk_pixbuf_save(crop, g_screenshot_path.c_str(), "png", &error, nullptr))
        << (error ? error->message : "");
    if (error) g_error_free(error);
    g_object_unref(crop);
  }
  g_object_unref(shot);

  // The host's opacity goes to the shadow as a constant alpha.
  frame_->SetConstantAlpha(0.0);
  shot = ScreenshotWhen([&](GdkPixbuf* s) { return Red(s, 99, 400) == 255; });
  EXPECT_EQ(Red(shot, 99, 400), 255);
  g_object_unref(shot);
  frame_->SetConstantAlpha(1.0);
  shot = ScreenshotWhen([&](GdkPixbuf* s) { return Red(s, 99, 400) < 235; });
  EXPECT_LT(Red(shot, 99, 400), 235);
  g_object_unref(shot);
}

TEST_F(ShadowFrameTest, WithoutCompositingTheShadowKeepsItsPlaceButShowsNothing) {
  ShowAt(100, 100, 800, 600);
  auto bounding_rects = [&] {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(XDisplay(), Shadow(), ShapeBounding, &count, &ordering);
    if (rects) XFree(rects);
    return count;
  };
  StopCompositor();
  EXPECT_TRUE(SpinUntil([&] { return bounding_rects() == 0; }));
  EXPECT_EQ(MapState(Shadow()), IsViewable);
  EXPECT_EQ(XGeometry(Shadow()), testing::ArtworkShadowAround({100, 100, 800, 600}));
  ASSERT_TRUE(StartCompositor());
  EXPECT_TRUE(SpinUntil([&] { return bounding_rects() == 1; }));
}

TEST_F(ShadowFrameTest, GoesAwayWithTheHost) {
  ShowAt(100, 100, 800, 600);
  const Window shadow = Shadow();
  gtk_widget_destroy(GTK_WIDGET(host_));
  host_ = nullptr;
  EXPECT_EQ(frame_->window(), nullptr);
  GdkDisplay* display = gdk_display_get_default();
  EXPECT_TRUE(SpinUntil([&] {
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes{};
    const Status status = XGetWindowAttributes(XDisplay(), shadow, &attributes);
    gdk_x11_display_error_trap_pop_ignored(display);
    return status == 0;
  }));
  frame_->SetConstantAlpha(0.5);  // harmless after the host is gone
  frame_.reset();
}

TEST_F(ShadowFrameTest, DeletingTheShadowLeavesTheHostWorking) {
  ShowAt(100, 100, 800, 600);
  const Window shadow = Shadow();
  frame_.reset();
  GdkDisplay* display = gdk_display_get_default();
  EXPECT_TRUE(SpinUntil([&] {
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes{};
    const Status status = XGetWindowAttributes(XDisplay(), shadow, &attributes);
    gdk_x11_display_error_trap_pop_ignored(display);
    return status == 0;
  })) << "the shadow window is gone";
  // The host stays on screen, and still moves, hides and shows.
  EXPECT_EQ(MapState(Host()), IsViewable);
  gtk_window_move(host_, 200, 150);
  EXPECT_TRUE(SpinUntil([&] {
    return XGeometry(Host()) == (ShadowRect{200, 150, 800, 600});
  })) << XGeometry(Host()).x
      << "," << XGeometry(Host()).y;
  gtk_widget_hide(GTK_WIDGET(host_));
  EXPECT_TRUE(SpinUntil([&] { return MapState(Host()) == IsUnmapped; }));
  gtk_widget_show(GTK_WIDGET(host_));
  EXPECT_TRUE(SpinUntil([&] { return MapState(Host()) == IsViewable; }));
  EXPECT_EQ(XGeometry(Host()), (ShadowRect{200, 150, 800, 600}));
}

}  // namespace
}  // namespace vesk

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--screenshot=", 13) == 0) vesk::g_screenshot_path = argv[i] + 13;
  }
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "shadow_frame_test needs a display\n");
    return 1;
  }
  vesk::logging::SetDchecksEnabled(true);
  const int result = RUN_ALL_TESTS();
  vesk::StopCompositor();
  return result;
}
