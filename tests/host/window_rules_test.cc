// Window rules of BrowserHost that pages and other programs can observe:
// what shows a hidden window and what does not, stacking, sizes the page
// asks for, losing the foreground, the full-screen test, load errors and
// menu texts. Real windows on a real X server, no window manager.
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "browser/browser_host.h"
#include "host_test_util.h"
#include "os_services.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

using testing::DataUrl;
using testing::DrainMainLoop;
using testing::Evaluate;
using testing::ServerGeometry;
using testing::SpinUntil;
using testing::WaitForLoad;

class WindowRulesTest : public ::testing::Test {
 protected:
  BrowserHost* Open(const std::string& html, bool show, BrowserHost::Rect rect = {100, 100, 900, 700}) {
    BrowserHost* host = BrowserHost::CreateBrowserHost(DataUrl(html), rect, show, false);
    windows_.push_back(host->window());
    EXPECT_TRUE(WaitForLoad(host->web_view()));
    if (show) {
      EXPECT_TRUE(SpinUntil([host] { return gtk_widget_get_mapped(GTK_WIDGET(host->window())); }));
    }
    return host;
  }
  void TearDown() override {
    for (GtkWindow* window : windows_)
      if (GTK_IS_WIDGET(window)) gtk_widget_destroy(GTK_WIDGET(window));
    DrainMainLoop();
  }
  static bool Visible(BrowserHost* host) { return gtk_widget_get_visible(GTK_WIDGET(host->window())); }
  static std::string Title(BrowserHost* host) {
    const char* title = webkit_web_view_get_title(host->web_view());
    return title ? title : "";
  }
  std::vector<GtkWindow*> windows_;
};

GtkMenu* PoppedUpMenu() {
  GtkMenu* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
    if (child && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)) found = GTK_MENU(child);
  }
  g_list_free(toplevels);
  return found;
}

TEST_F(WindowRulesTest, MenusAndActivationLeaveAHiddenWindowHidden) {
  BrowserHost* host = Open("<p>tray</p>", false);
  host->PopUpMenu(R"([{"menu":true,"text":"&Open","menu_id":1,"enable":true},
                      {"menu":true,"text":"snake_case && more","menu_id":2,"enable":true}])");
  ASSERT_TRUE(SpinUntil([] { return PoppedUpMenu() != nullptr; }));
  EXPECT_FALSE(Visible(host));
  // "&" marks the mnemonic; GTK's own marker is shown as it is.
  GList* items = gtk_container_get_children(GTK_CONTAINER(PoppedUpMenu()));
  ASSERT_EQ(g_list_length(items), 2u);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(items->data)), "_Open");
  EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(items->data)));
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(items->next->data)), "snake__case & more");
  g_list_free(items);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(PoppedUpMenu()));
  ASSERT_TRUE(SpinUntil([] { return PoppedUpMenu() == nullptr; }));

  PositionRequest activate;
  activate.x = {PositionRequest::Type::kValid, 40};
  activate.active = {PositionRequest::Type::kValid, true};
  EXPECT_EQ(host->SetPosition(activate), "");
  EXPECT_FALSE(Visible(host));
  EXPECT_EQ(host->GetPosition().rect.left, 40);
}

TEST_F(WindowRulesTest, RestoreMaximizeAndMinimizeShowAHiddenWindow) {
  for (ShowCommand command : {ShowCommand::kRestore, ShowCommand::kMaximize, ShowCommand::kMinimize}) {
    BrowserHost* host = Open("<p>hidden</p>", false);
    ASSERT_FALSE(host->GetWindowStatus().visible);
    host->ShowWindow(command);
    EXPECT_TRUE(host->GetWindowStatus().visible) << static_cast<int>(command);
    EXPECT_TRUE(SpinUntil([host] { return gtk_widget_get_mapped(GTK_WIDGET(host->window())); }));
  }
}

TEST_F(WindowRulesTest, BringToTopLeavesTheWindowNotTopmost) {
  BrowserHost* host = Open("<p>x</p>", true);
  PositionRequest topmost;
  topmost.topmost = {PositionRequest::Type::kValid, true};
  host->SetPosition(topmost);
  ASSERT_TRUE(host->GetPosition().topmost);
  host->BringToTop();
  EXPECT_FALSE(host->GetPosition().topmost);
}

TEST_F(WindowRulesTest, InfiniteOpacitiesAreNumbersLikeAnyOther) {
  BrowserHost* host = Open("<p>x</p>", true);
  auto opacity_property = [host] {
    return testing::CardinalProperty(host->window(), "_NET_WM_WINDOW_OPACITY");
  };
  host->SetOpacity(0.5);
  ASSERT_TRUE(SpinUntil([&] { return opacity_property().has_value(); }));
  // At least 1: opaque again, the last applied value still reported.
  host->SetOpacity(INFINITY);
  EXPECT_EQ(host->GetOpacity(), 0.5);
  EXPECT_TRUE(SpinUntil([&] { return !opacity_property() || *opacity_property() == 0xFFFFFFFFu; }));
  // Negative on a translucent window: the alpha arithmetic, stored as given.
  host->SetOpacity(0.25);
  host->SetOpacity(-INFINITY);
  EXPECT_EQ(host->GetOpacity(), -INFINITY);
  EXPECT_TRUE(SpinUntil([&] { return opacity_property() == 0u; }));
}

XSizeHints NormalHints(GtkWindow* window) {
  XSizeHints hints{};
  long supplied = 0;
  Display* display = testing::XDisplayOf(window);
  XSync(display, False);
  XGetWMNormalHints(display, testing::XWindowOf(window), &hints, &supplied);
  return hints;
}

TEST_F(WindowRulesTest, SizesThePageAsksForAreNotBoundByTheSizeLimits) {
  BrowserHost* host = Open("<p>x</p>", true);
  host->SetSizeLimit(800, 600, true);
  host->SetSizeLimit(300, 300, false);
  auto size_is = [host](int width, int height) {
    return SpinUntil([&] {
      const GdkRectangle g = ServerGeometry(host->window());
      return g.width == width && g.height == height;
    });
  };
  ASSERT_TRUE(SpinUntil([host] { return NormalHints(host->window()).max_width == 800; }));

  auto ask_size = [host](int width, int height) {
    PositionRequest size;
    size.width = {PositionRequest::Type::kValid, width};
    size.height = {PositionRequest::Type::kValid, height};
    host->SetPosition(size);
  };
  ask_size(1000, 900);
  EXPECT_TRUE(size_is(1000, 900)) << ServerGeometry(host->window()).width;
  ask_size(10, 10);
  EXPECT_TRUE(size_is(10, 10)) << ServerGeometry(host->window()).width;
  ask_size(5000, 4000);  // larger than the screen
  EXPECT_TRUE(size_is(5000, 4000)) << ServerGeometry(host->window()).width;
  // Inside the limits again: they are back in force for the user.
  ask_size(500, 400);
  EXPECT_TRUE(size_is(500, 400));
  EXPECT_TRUE(SpinUntil([host] {
    const XSizeHints hints = NormalHints(host->window());
    return hints.max_width == 800 && hints.max_height == 600 && hints.min_width == 300;
  }));
}

// A top-level window of another X client, with the type and owner a desktop
// would give it.
class ForeignWindow {
 public:
  ForeignWindow(int x, int y, int width, int height, long pid, const char* type) {
    display_ = XOpenDisplay(nullptr);
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, 0, 0);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;  // placed exactly, as no manager runs
    XChangeWindowAttributes(display_, window_, CWOverrideRedirect, &attributes);
    const unsigned long pid_value = static_cast<unsigned long>(pid);
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid_value), 1);
    const unsigned long type_atom = XInternAtom(display_, type, False);
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&type_atom), 1);
    XMapRaised(display_, window_);
    XSync(display_, False);
  }
  ~ForeignWindow() {
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }
  bool Viewable() {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display_, window_, &attributes);
    return attributes.map_state == IsViewable;
  }
  void Focus() {
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
  }

 private:
  Display* display_ = nullptr;
  Window window_ = 0;
};

TEST_F(WindowRulesTest, FullScreenTestIgnoresTheDesktopAndPanelProcesses) {
  GdkRectangle screen{};
  gdk_monitor_get_geometry(gdk_display_get_primary_monitor(gdk_display_get_default()), &screen);
  {
    ForeignWindow player(0, 0, screen.width, screen.height, 4242, "_NET_WM_WINDOW_TYPE_NORMAL");
    ASSERT_TRUE(SpinUntil([&] { return player.Viewable(); }));
    EXPECT_TRUE(HasFullScreenWindowOfOtherProcess());
  }
  {
    ForeignWindow desktop(0, 0, screen.width, screen.height, 4343, "_NET_WM_WINDOW_TYPE_DESKTOP");
    ASSERT_TRUE(SpinUntil([&] { return desktop.Viewable(); }));
    EXPECT_FALSE(HasFullScreenWindowOfOtherProcess());
  }
  {
    // The panel's process also draws a window over the whole screen.
    ForeignWindow cover(0, 0, screen.width, screen.height, 4444, "_NET_WM_WINDOW_TYPE_NORMAL");
    ForeignWindow panel(200, 200, 100, 30, 4444, "_NET_WM_WINDOW_TYPE_DOCK");
    ASSERT_TRUE(SpinUntil([&] { return cover.Viewable() && panel.Viewable(); }));
    EXPECT_FALSE(HasFullScreenWindowOfOtherProcess());
  }
}

TEST_F(WindowRulesTest, LosingTheForegroundReachesEveryWindowWithAPage) {
  const std::string page =
      "<script>window.winhelper={onLoseFocus:function(){document.title='lost';}};</script>";
  // The second window is hidden, as a tray application's main window may be:
  // it never had the foreground itself.
  BrowserHost* first = Open(page, true, {100, 100, 500, 400});
  BrowserHost* second = Open(page, false, {600, 100, 1000, 400});
  GtkWindow* window = first->window();
  XSetInputFocus(testing::XDisplayOf(window), testing::XWindowOf(window), RevertToParent, CurrentTime);
  ASSERT_TRUE(SpinUntil([window] { return gtk_window_is_active(window); }));
  // From here on only the foreground's loss counts.
  Evaluate(first->web_view(), "document.title='ready'");
  Evaluate(second->web_view(), "document.title='ready'");

  ForeignWindow other(0, 700, 200, 200, 4545, "_NET_WM_WINDOW_TYPE_NORMAL");
  ASSERT_TRUE(SpinUntil([&] { return other.Viewable(); }));
  other.Focus();
  EXPECT_TRUE(SpinUntil([&] { return Title(first) == "lost" && Title(second) == "lost"; }))
      << Title(first) << " / " << Title(second);
}

TEST_F(WindowRulesTest, WithoutAnErrorPageTheEngineShowsItsOwnErrorDisplay) {
  ErrorProcessor::Get().ResetForTesting();
  BrowserHost* host = Open("<p>the old page</p>", true);
  const std::string failed = "http://unreachable.invalid/page";
  webkit_web_view_load_uri(host->web_view(), failed.c_str());
  ASSERT_TRUE(SpinUntil([&] {
    const char* uri = webkit_web_view_get_uri(host->web_view());
    return uri && uri == failed && !webkit_web_view_is_loading(host->web_view());
  }));
  const auto text = Evaluate(host->web_view(), "document.body ? document.body.textContent : ''");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->find("the old page"), std::string::npos) << *text;
  EXPECT_FALSE(text->empty());
}

TEST_F(WindowRulesTest, AFailedFrameDocumentLoadsTheErrorPageInTheMainFrame) {
  ErrorProcessor::Get().ResetForTesting();
  ErrorProcessor::Get().SetErrorHandlerUrl("about:blank#error");
  ErrorProcessor::Get().SetErrorData({{"a", "1"}});
  // An image that fails is no document: it leaves the page alone.
  BrowserHost* host = Open(
      "<img src='http://unreachable.invalid/picture.png'><iframe src='http://unreachable.invalid/frame'>"
      "</iframe>",
      true);
  EXPECT_TRUE(SpinUntil([host] {
    const char* uri = webkit_web_view_get_uri(host->web_view());
    return uri && std::string(uri).rfind("about:blank#error", 0) == 0;
  }));
  const std::string uri = webkit_web_view_get_uri(host->web_view());
  EXPECT_EQ(uri.rfind("about:blank#error?url=http://unreachable.invalid/frame&error_text=", 0), 0u) << uri;
  EXPECT_NE(uri.find("&a=1"), std::string::npos) << uri;
  ErrorProcessor::Get().ResetForTesting();
}

TEST_F(WindowRulesTest, TaskbarRestartWithoutAPageLogsTheSystemError) {
  gchar* dir = g_dir_make_tmp("vesk-window-rules-XXXXXX", nullptr);
  const std::string log_path = std::string(dir) + "/test.log";
  ASSERT_TRUE(logging::InitLogging(log_path));
  BrowserHost* host = Open("<p>x</p>", false);
  host->OnMainBrowserClosed();  // the page is gone, the window still there
  errno = ENOENT;
  host->OnTaskbarCreated();
  logging::ShutdownLogging();
  gchar* text = nullptr;
  ASSERT_TRUE(g_file_get_contents(log_path.c_str(), &text, nullptr, nullptr));
  const std::string log(text);
  g_free(text);
  EXPECT_NE(log.find("Here is no browser to execute javascript function when task bar restart: "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("(2)"), std::string::npos) << log;
  g_unlink(log_path.c_str());
  g_rmdir(dir);
  g_free(dir);
}

}  // namespace
}  // namespace vesk
