// The window side of BrowserHost against real windows on a real X server.
#include "browser/browser_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "browser/modal_dialog_list.h"
#include "browser/page_bridge.h"
#include "host_test_util.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/command_line.h"
#include "vesk/core/upload_request.h"

namespace vesk {
namespace {

using testing::DataUrl;
using testing::Evaluate;
using testing::SpinPastQueuedIdles;
using testing::SpinUntil;
using testing::WaitForLoad;

class BrowserHostTest : public ::testing::Test {
 protected:
  BrowserHost* Open(const std::string& html, BrowserHost::Rect rect = {100, 100, 900, 700},
                    bool show = true) {
    BrowserHost* host = BrowserHost::CreateBrowserHost(DataUrl(html), rect, show, false);
    hosts_.push_back(host->window());
    EXPECT_TRUE(WaitForLoad(host->web_view()));
    if (show) {
      EXPECT_TRUE(SpinUntil([host] { return gtk_widget_get_mapped(GTK_WIDGET(host->window())); }));
    }
    return host;
  }
  void TearDown() override {
    for (GtkWindow* window : hosts_)
      if (GTK_IS_WIDGET(window)) gtk_widget_destroy(GTK_WIDGET(window));
    testing::DrainMainLoop();
  }
  std::vector<GtkWindow*> hosts_;
};

TEST_F(BrowserHostTest, WindowIsUndecoratedTranslucentCapableAndHiddenUntilShown) {
  BrowserHost* host = Open("<p>x</p>", {0, 0, 0, 0}, false);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(host->window())));
  EXPECT_FALSE(gtk_window_get_decorated(host->window()));
  EXPECT_EQ(gdk_visual_get_depth(gtk_widget_get_visual(GTK_WIDGET(host->window()))), 32);
  int width = 0, height = 0;
  gtk_window_get_size(host->window(), &width, &height);
  EXPECT_EQ(width, BrowserHost::kDefaultWidth);
  host->Show();
  EXPECT_TRUE(SpinUntil([host] { return gtk_widget_get_mapped(GTK_WIDGET(host->window())); }));
}

TEST_F(BrowserHostTest, SetPositionAppliesValidMembersAndReportsTheLastBadOne) {
  BrowserHost* host = Open("<p>x</p>");
  PositionRequest move_x;
  move_x.x = {PositionRequest::Type::kValid, 10};
  EXPECT_EQ(host->SetPosition(move_x), "");
  EXPECT_TRUE(SpinUntil([host] { return testing::ServerGeometry(host->window()).x == 10; }));
  GdkRectangle geometry = testing::ServerGeometry(host->window());
  EXPECT_EQ(geometry.y, 100);
  EXPECT_EQ(geometry.width, 800);
  EXPECT_EQ(geometry.height, 600);

  PositionRequest mixed;
  mixed.x = {PositionRequest::Type::kWrongType, 0};
  mixed.y = {PositionRequest::Type::kValid, 20};
  mixed.width = {PositionRequest::Type::kValid, 500};
  mixed.active = {PositionRequest::Type::kWrongType, false};
  EXPECT_EQ(host->SetPosition(mixed), "active should be boolean");
  EXPECT_TRUE(SpinUntil([host] {
    const GdkRectangle g = testing::ServerGeometry(host->window());
    return g.y == 20 && g.width == 500;
  }));
  EXPECT_EQ(testing::ServerGeometry(host->window()).x, 10);
  const WindowPosition position = host->GetPosition();
  EXPECT_EQ(position.rect, (WindowRect{10, 20, 510, 620}));
  EXPECT_FALSE(position.topmost);

  PositionRequest top;
  top.topmost = {PositionRequest::Type::kValid, 0};
  top.topmost.value = true;
  host->SetPosition(top);
  EXPECT_TRUE(host->GetPosition().topmost);
}

// The rectangle is kept between calls; whatever changed the window since
// (another client, or GTK's own resize after a set) shows in the next call.
TEST_F(BrowserHostTest, TheKeptRectangleFollowsEveryChange) {
  BrowserHost* host = Open("<p>x</p>");
  const WindowRect before = host->GetPosition().rect;
  EXPECT_EQ(host->GetPosition().rect, before) << "asked twice, unchanged";

  // Moved by another party: the server has told us, but no main-loop turn
  // has handled the event yet.
  Display* display = testing::XDisplayOf(host->window());
  XMoveWindow(display, testing::XWindowOf(host->window()), 123, 45);
  XSync(display, False);
  EXPECT_EQ(host->GetPosition().rect, (WindowRect{123, 45, 123 + before.width(), 45 + before.height()}));

  // A size set by the page reaches the server only with GTK's next layout;
  // a call in between must not keep what it saw then.
  PositionRequest resize;
  resize.width = {PositionRequest::Type::kValid, 500};
  EXPECT_EQ(host->SetPosition(resize), "");
  const WindowRect between = host->GetPosition().rect;
  EXPECT_EQ(between.left, 123);
  EXPECT_TRUE(SpinUntil([host] { return testing::ServerGeometry(host->window()).width == 500; }));
  EXPECT_EQ(host->GetPosition().rect, (WindowRect{123, 45, 623, 45 + before.height()}));
}

TEST_F(BrowserHostTest, SizeLimitsReachTheWindowManagerHints) {
  BrowserHost* host = Open("<p>x</p>");
  GdkRectangle area{};
  gdk_monitor_get_workarea(gdk_display_get_primary_monitor(gdk_display_get_default()), &area);
  auto hints = [host] {
    XSizeHints size_hints{};
    long supplied = 0;
    Display* display = testing::XDisplayOf(host->window());
    XSync(display, False);
    XGetWMNormalHints(display, testing::XWindowOf(host->window()), &size_hints, &supplied);
    return size_hints;
  };
  XSizeHints initial = hints();
  EXPECT_EQ(initial.min_width, 32);
  EXPECT_EQ(initial.max_width, area.width);

  host->SetSizeLimit(100000, 100000, true);  // larger than the work area: no effect
  host->SetSizeLimit(20, 20, false);         // smaller than 32: no effect
  XSizeHints unchanged = hints();
  EXPECT_EQ(unchanged.max_width, area.width);
  EXPECT_EQ(unchanged.max_height, area.height);
  EXPECT_EQ(unchanged.min_width, 32);
  EXPECT_EQ(unchanged.min_height, 32);

  host->SetSizeLimit(640, 20, false);
  host->SetSizeLimit(1000, 700, true);
  // GTK hands new hints to the X server with its next layout pass.
  EXPECT_TRUE(SpinUntil([&] { return hints().max_width == 1000; }));
  XSizeHints limited = hints();
  EXPECT_EQ(limited.min_width, 640);
  EXPECT_EQ(limited.min_height, 32);
  EXPECT_EQ(limited.max_width, 1000);
  EXPECT_EQ(limited.max_height, 700);
}

TEST_F(BrowserHostTest, OpacityIsStoredOnlyWhenApplied) {
  BrowserHost* host = Open("<p>x</p>");
  EXPECT_EQ(host->GetOpacity(), 1.0);
  host->SetOpacity(0.5);
  EXPECT_EQ(host->GetOpacity(), 0.5);
  EXPECT_TRUE(SpinUntil([host] {
    const auto value = testing::CardinalProperty(host->window(), "_NET_WM_WINDOW_OPACITY");
    return value && *value == static_cast<unsigned long>(0xFFFFFFFFu * (127.0 / 255.0));
  }));
  host->SetOpacity(1);
  EXPECT_EQ(host->GetOpacity(), 0.5);  // the opaque window reports the last applied value
  EXPECT_TRUE(SpinUntil([host] {
    const auto value = testing::CardinalProperty(host->window(), "_NET_WM_WINDOW_OPACITY");
    return !value || *value == 0xFFFFFFFFu;
  }));
  // Back to the same translucent value: applied again, not skipped.
  host->SetOpacity(0.5);
  EXPECT_TRUE(SpinUntil([host] {
    const auto value = testing::CardinalProperty(host->window(), "_NET_WM_WINDOW_OPACITY");
    return value && *value < 0xFFFFFFFFu;
  }));
  host->SetOpacity(-1e300);  // no crash on absurd values, and the style is left alone
  host->SetOpacity(std::nan(""));
}

std::vector<GtkMenu*> PoppedUpMenus() {
  std::vector<GtkMenu*> found;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
    if (child && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)) found.push_back(GTK_MENU(child));
  }
  g_list_free(toplevels);
  return found;
}

GtkMenu* FindPoppedUpMenu() {
  const std::vector<GtkMenu*> menus = PoppedUpMenus();
  return menus.empty() ? nullptr : menus.back();
}

TEST_F(BrowserHostTest, PopupMenuFollowsItemRulesAndRunsOnMenuClick) {
  BrowserHost* host =
      Open("<script>window.winhelper={onMenuClick:function(id){document.title='clicked '+id;}};</script>");
  host->PopUpMenu(
      R"([{"menu":true,"text":"Open","menu_id":3,"enable":true},{"menu":true,"separator":true},{"text":"x"}])");
  ASSERT_TRUE(SpinUntil([] { return FindPoppedUpMenu() != nullptr; }));
  GtkMenu* menu = FindPoppedUpMenu();
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  ASSERT_EQ(g_list_length(children), 2u);
  GtkWidget* open = GTK_WIDGET(children->data);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(open)), "Open");
  EXPECT_TRUE(gtk_widget_get_sensitive(open));
  EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(children->next->data));
  g_list_free(children);
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), open, TRUE);
  EXPECT_TRUE(SpinUntil([host] {
    const char* title = webkit_web_view_get_title(host->web_view());
    return title && std::string(title) == "clicked 3";
  }));
  EXPECT_TRUE(SpinUntil([] { return PoppedUpMenus().empty(); }));
  host->PopUpMenu("not json");
  host->PopUpMenu(R"({"menu":true})");
  // A good menu after them marks the moment: once it is up, the bad ones
  // would be too, and it is the only one.
  host->PopUpMenu(R"([{"menu":true,"text":"Marker","menu_id":9,"enable":true}])");
  ASSERT_TRUE(SpinUntil([] { return !PoppedUpMenus().empty(); }));
  const std::vector<GtkMenu*> menus = PoppedUpMenus();
  ASSERT_EQ(menus.size(), 1u);
  GList* marker_items = gtk_container_get_children(GTK_CONTAINER(menus[0]));
  ASSERT_EQ(g_list_length(marker_items), 1u);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(marker_items->data)), "Marker");
  g_list_free(marker_items);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menus[0]));
}

int CountHostWindows() {
  int count = 0;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
    if (child && WEBKIT_IS_WEB_VIEW(child)) ++count;
  }
  g_list_free(toplevels);
  return count;
}

TEST_F(BrowserHostTest, PopupsAreRefusedUnlessTheLaunchWasAnnounced) {
  BrowserHost* host = Open("<p>opener</p>");
  const int before = CountHostWindows();
  // The host decides inside window.open: by the time it returned null, a
  // window it made would be counted already.
  EXPECT_EQ(Evaluate(host->web_view(), "String(window.open('https://example.invalid/', '_blank'))"), "null");
  EXPECT_EQ(CountHostWindows(), before);

  LaunchRequest launch;
  launch.url = "about:blank";
  launch.rect = {50, 60, 450, 360};
  launch.visible = false;
  host->LaunchWindow(launch);
  EXPECT_EQ(Evaluate(host->web_view(), "window.open('about:blank') !== null"), "true");
  ASSERT_TRUE(SpinUntil([&] { return CountHostWindows() == before + 1; }));
  // The launched window is a hidden tool window of the requested size.
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
    if (!child || !WEBKIT_IS_WEB_VIEW(child) || window == host->window() ||
        std::find(hosts_.begin(), hosts_.end(), window) != hosts_.end())
      continue;
    hosts_.push_back(window);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    EXPECT_EQ(gtk_window_get_type_hint(window), GDK_WINDOW_TYPE_HINT_UTILITY);
    int width = 0, height = 0;
    gtk_window_get_default_size(window, &width, &height);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 300);
  }
  g_list_free(toplevels);
  // The announcement is used once.
  EXPECT_EQ(Evaluate(host->web_view(), "String(window.open('about:blank'))"), "null");
}

TEST_F(BrowserHostTest, FailedLoadGoesToTheErrorPageWithItsQuery) {
  ErrorProcessor::Get().ResetForTesting();
  BrowserHost* host = Open("<p>x</p>");
  ErrorProcessor::Get().SetErrorHandlerUrl("about:blank#error");
  ErrorProcessor::Get().SetErrorData({{"b", "2"}, {"a", "1"}});
  webkit_web_view_load_uri(host->web_view(), "http://unreachable.invalid/page");
  EXPECT_TRUE(SpinUntil([host] {
    const char* uri = webkit_web_view_get_uri(host->web_view());
    return uri && std::string(uri).rfind("about:blank#error", 0) == 0;
  }));
  const std::string uri = webkit_web_view_get_uri(host->web_view());
  EXPECT_EQ(uri.rfind("about:blank#error?url=http://unreachable.invalid/page&error_text=", 0), 0u) << uri;
  EXPECT_NE(uri.find("&a=1&b=2"), std::string::npos) << uri;
  ErrorProcessor::Get().ResetForTesting();
}

TEST_F(BrowserHostTest, FileChooserTakesPendingUploadsThenShowsTheDialog) {
  BrowserHost* host = Open(
      "<body style='margin:0'><input id=f type=file multiple style='width:300px;height:100px'>"
      "<script>f.onchange=function(){document.title=Array.from(f.files).map(x=>x.name).join(',');}</script>");
  gchar* dir = g_dir_make_tmp("vesk-upload-XXXXXX", nullptr);
  const std::string a = std::string(dir) + "/a.txt", b = std::string(dir) + "/b.txt";
  g_file_set_contents(a.c_str(), "a", 1, nullptr);
  g_file_set_contents(b.c_str(), "b", 1, nullptr);
  PendingUploadFiles::Get().TakeAll();
  PendingUploadFiles::Get().Append(a);
  PendingUploadFiles::Get().Append(b);
  gtk_window_present(host->window());
  ASSERT_TRUE(SpinUntil([host] { return gtk_window_is_active(host->window()); }));
  host->SendMouseClick(20, 20);
  EXPECT_TRUE(SpinUntil([host] {
    const char* title = webkit_web_view_get_title(host->web_view());
    return title && std::string(title) == "a.txt,b.txt";
  }));
  EXPECT_TRUE(PendingUploadFiles::Get().files().empty());
  // Nothing pending: the next click opens the open-file dialog.
  host->SendMouseClick(20, 20);
  EXPECT_TRUE(SpinUntil([] { return ModalDialogList::Get().size() == 1; }));
  bool quit = false;
  ModalDialogList::Get().set_quit_function([&quit] { quit = true; });
  host->ExitApplication();
  EXPECT_TRUE(SpinUntil([&] { return quit; }));
  EXPECT_EQ(ModalDialogList::Get().size(), 0u);
  ModalDialogList::Get().set_quit_function([] { gtk_main_quit(); });
  const std::string command = std::string("rm -rf '") + dir + "'";
  (void)std::system(command.c_str());
  g_free(dir);
}

TEST_F(BrowserHostTest, ExitCancelsNestedDialogsNewestFirstThenQuits) {
  BrowserHost* host = Open("<p>x</p>");
  std::vector<std::string> order;
  bool quit = false;
  ModalDialogList::Get().set_quit_function([&] {
    order.push_back("quit");
    quit = true;
  });
  ShowOpenFileDialog(host->window(), [&](bool chosen, std::vector<std::string>) {
    EXPECT_FALSE(chosen);
    order.push_back("older");
  });
  ShowOpenFileDialog(host->window(), [&](bool chosen, std::vector<std::string>) {
    EXPECT_FALSE(chosen);
    order.push_back("newer");
  });
  ASSERT_EQ(ModalDialogList::Get().size(), 2u);
  host->ExitApplication();
  EXPECT_FALSE(quit);  // nothing ends before the dialogs are gone
  EXPECT_TRUE(SpinUntil([&] { return quit; }));
  EXPECT_EQ(order, (std::vector<std::string>{"newer", "older", "quit"}));

  order.clear();
  quit = false;
  host->ExitApplication();  // no dialog: at once
  EXPECT_TRUE(quit);
  ModalDialogList::Get().set_quit_function([] { gtk_main_quit(); });
}

// Stands in for the page's close handler, whose script side lives in the
// web extension.
class ScriptedCloseAnswer : public PageBridge {
 public:
  explicit ScriptedCloseAnswer(bool keep_open) : keep_open_(keep_open) {}
  void AskCloseHandler(WebKitWebView*, std::function<void(bool)> done) override {
    ++asked;
    // Answered later, as a page would.
    auto* pending = new std::function<void()>([done, keep = keep_open_] {
      done(keep);
      ++answered;
    });
    g_idle_add(
        [](gpointer data) -> gboolean {
          auto* call = static_cast<std::function<void()>*>(data);
          (*call)();
          delete call;
          return G_SOURCE_REMOVE;
        },
        pending);
  }
  static inline int asked = 0;
  static inline int answered = 0;

 private:
  bool keep_open_;
};

TEST_F(BrowserHostTest, CloseRequestsAskThePageAndTrueKeepsTheWindow) {
  BrowserHost* host = Open("<p>x</p>");
  GtkWindow* window = host->window();
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  PageBridge::Set(std::make_unique<ScriptedCloseAnswer>(true));
  ScriptedCloseAnswer::asked = ScriptedCloseAnswer::answered = 0;
  GdkEvent* event = gdk_event_new(GDK_DELETE);
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
  gtk_main_do_event(event);
  ASSERT_TRUE(SpinUntil([] { return ScriptedCloseAnswer::answered == 1; }));
  // Whatever the host does with the answer it does at once or from the main
  // loop: past the idle callbacks queued by then, the window must be there.
  ASSERT_TRUE(SpinPastQueuedIdles());
  EXPECT_EQ(ScriptedCloseAnswer::asked, 1);
  EXPECT_NE(window, nullptr);

  PageBridge::Set(std::make_unique<ScriptedCloseAnswer>(false));
  gtk_main_do_event(event);
  gdk_event_free(event);
  EXPECT_TRUE(SpinUntil([&] { return window == nullptr; }));
  hosts_.clear();
}

TEST_F(BrowserHostTest, F12TogglesTheInspectorOnlyWithTheSwitch) {
  auto press_f12 = [](BrowserHost* host) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(host->web_view()))));
    event->key.keyval = GDK_KEY_F12;
    event->key.send_event = TRUE;
    gdk_event_set_device(event,
                         gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    const gboolean handled = gtk_widget_event(GTK_WIDGET(host->web_view()), event);
    gdk_event_free(event);
    return handled;
  };
  CommandLine::InitForCurrentProcess(CommandLine::FromArgv({"pelicard"}));
  BrowserHost* plain = Open("<p>x</p>");
  press_f12(plain);
  EXPECT_FALSE(plain->IsDevToolsShown());

  CommandLine::InitForCurrentProcess(CommandLine::FromArgv({"pelicard", "--enable-dev-tools"}));
  BrowserHost* host = Open("<p>y</p>");
  EXPECT_TRUE(press_f12(host));
  EXPECT_TRUE(host->IsDevToolsShown());
  EXPECT_TRUE(SpinUntil([host] {
    return webkit_web_inspector_get_web_view(webkit_web_view_get_inspector(host->web_view())) != nullptr;
  }));
  EXPECT_TRUE(press_f12(host));
  EXPECT_FALSE(host->IsDevToolsShown());
  CommandLine::InitForCurrentProcess(CommandLine::FromArgv({"pelicard"}));
}

}  // namespace
}  // namespace vesk
