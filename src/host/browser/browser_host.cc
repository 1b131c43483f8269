#include "browser/browser_host.h"

#include <malloc.h>

#include <unordered_map>
#include <vector>

#include "browser/client_handlers.h"
#include "browser/cross_origin_allow_list.h"
#include "browser/modal_dialog_list.h"
#include "browser/page_bridge.h"
#include "browser/popup_menu.h"
#include "browser/web_process_watch.h"
#include "channel/published_windows.h"
#include "engine.h"
#include "ui_app.h"
#include "vesk/core/command_line.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/switches.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

constexpr char kHostKey[] = "vesk-browser-host";

}  // namespace

BrowserHost* BrowserHost::CreateBrowserHost(const std::string& url, const Rect& rect, bool show,
                                            bool tool_window, bool is_main_window) {
  auto* host = new BrowserHost(is_main_window);
  if (!host->Create(rect, tool_window)) {
    delete host;
    return nullptr;
  }
  host->CreateBrowser(url);
  if (show || CommandLine::ForCurrentProcess().HasSwitch(switches::kForceShowWindow)) host->Show();
  return host;
}

BrowserHost* BrowserHost::FromWebView(WebKitWebView* view) {
  VESK_REQUIRE_MAIN_THREAD();
  return view ? static_cast<BrowserHost*>(g_object_get_data(G_OBJECT(view), kHostKey)) : nullptr;
}

namespace {

// Hosts found by page id before: every page-channel request looks its host
// up. Entries are checked on use (a view's page id may change when the
// engine swaps its web process) and dropped when their host goes.
std::unordered_map<guint64, BrowserHost*>& HostsByPageId() {
  static auto* hosts = new std::unordered_map<guint64, BrowserHost*>;
  return *hosts;
}

}  // namespace

BrowserHost* BrowserHost::FromPageId(guint64 page_id) {
  VESK_REQUIRE_MAIN_THREAD();
  auto& known = HostsByPageId();
  const auto it = known.find(page_id);
  if (it != known.end() && it->second->browser_ &&
      webkit_web_view_get_page_id(it->second->browser_) == page_id)
    return it->second;
  g_autoptr(GList) toplevels = gtk_window_list_toplevels();
  BrowserHost* found = nullptr;
  for (GList* item = toplevels; item && !found; item = item->next) {
    GtkWidget* child = GTK_IS_BIN(item->data) ? gtk_bin_get_child(GTK_BIN(item->data)) : nullptr;
    if (child && WEBKIT_IS_WEB_VIEW(child) && webkit_web_view_get_page_id(WEBKIT_WEB_VIEW(child)) == page_id)
      found = FromWebView(WEBKIT_WEB_VIEW(child));
  }
  if (found)
    known[page_id] = found;
  else
    known.erase(page_id);
  return found;
}

BrowserHost::BrowserHost(bool is_main_window) : is_main_window_(is_main_window) {}

BrowserHost::~BrowserHost() {
  *alive_ = false;
  StopWatchingLayout();
  std::erase_if(HostsByPageId(), [this](const auto& entry) { return entry.second == this; });
  if (published_page_id_) PublishedWindows::Get().Forget(published_page_id_);
  if (browser_ && page_id_handler_) g_signal_handler_disconnect(browser_, page_id_handler_);
  if (composited_handler_) {
    GdkScreen* screen = gdk_screen_get_default();
    if (screen) g_signal_handler_disconnect(screen, composited_handler_);
  }
  malloc_trim(0);
}

bool BrowserHost::Create(const Rect& rect, bool tool_window) {
  VESK_REQUIRE_MAIN_THREAD();
  if (window_) {
    VESK_DCHECK(!window_) << "You Already Create BrowserHost";
    return false;
  }
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_decorated(window_, FALSE);
  gtk_widget_set_app_paintable(GTK_WIDGET(window_), TRUE);
  GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(window_));
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen))
    gtk_widget_set_visual(GTK_WIDGET(window_), visual);
  if (tool_window) {
    gtk_window_set_type_hint(window_, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_skip_taskbar_hint(window_, TRUE);
    gtk_window_set_skip_pager_hint(window_, TRUE);
  }
  const int width = rect.width() > 0 ? rect.width() : kDefaultWidth;
  const int height = rect.height() > 0 ? rect.height() : kDefaultHeight;
  gtk_window_set_default_size(window_, width, height);
  asked_size_ = Size{width, height};
  gtk_window_move(window_, rect.left, rect.top);
  ++window_count_;
  ConnectWindowSignals();
  ApplySizeLimits();
  VESK_VLOG(1) << "start-up: window created";
  if (!CommandLine::ForCurrentProcess().HasSwitch(switches::kEraseShadowFrame))
    shadow_frame_ = std::make_unique<ShadowFrame>(window_);
  VESK_VLOG(1) << "start-up: shadow created";
  return true;
}

void BrowserHost::ConnectWindowSignals() {
  g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(window_, "hide", G_CALLBACK(OnHide), this);
  g_signal_connect(window_, "notify::is-active", G_CALLBACK(OnActiveChanged), this);
  g_signal_connect(window_, "window-state-event", G_CALLBACK(OnWindowState), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigure), this);
  for (const char* event : {"configure-event", "map-event", "unmap-event"})
    g_signal_connect(window_, event, G_CALLBACK(OnGeometryEvent), this);
  // GTK unmaps a hidden window at once; the server's event comes later.
  for (const char* signal : {"map", "unmap"})
    g_signal_connect(window_, signal, G_CALLBACK(OnMappedChanged), this);
  g_signal_connect(window_, "realize", G_CALLBACK(OnRealize), this);
  g_signal_connect(window_, "unrealize", G_CALLBACK(OnUnrealize), this);
  composited_handler_ = g_signal_connect(gtk_widget_get_screen(GTK_WIDGET(window_)), "composited-changed",
                                         G_CALLBACK(OnCompositedChanged), this);
}

bool BrowserHost::CreateBrowser(const std::string& url, WebKitWebView* related) {
  VESK_REQUIRE_MAIN_THREAD();
  if (!window_) {
    VESK_DCHECK(window_) << "You haven't create browserHost, please create it first";
    return false;
  }
  if (browser_) {
    VESK_DCHECK(!browser_) << "You Already Create Browser";
    return false;
  }
  Engine& engine = Engine::Get();
  if (related) {
    browser_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(related));
  } else {
    browser_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", engine.context(), "settings",
                                            engine.settings(), nullptr));
  }
  g_object_set_data(G_OBJECT(browser_), kHostKey, this);
  const GdkRGBA transparent{0, 0, 0, 0};
  webkit_web_view_set_background_color(browser_, &transparent);
  // Files dropped on the window must not navigate the application away.
  gtk_drag_dest_unset(GTK_WIDGET(browser_));
  RememberButtonPresses(GTK_WIDGET(browser_));
  client_handlers_ = ClientHandlers::Attach(browser_, this);
  g_signal_connect(browser_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(browser_, "ready-to-show", G_CALLBACK(OnReadyToShow), this);
  // A new web process for the page gives it a new page id.
  page_id_handler_ = g_signal_connect(browser_, "notify::page-id", G_CALLBACK(OnPageIdChanged), this);
  PublishState();
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(browser_));
  gtk_widget_show(GTK_WIDGET(browser_));
  gtk_widget_grab_focus(GTK_WIDGET(browser_));
  FollowCrossOriginAllowList(browser_, url);
  WatchWebProcess(browser_);
  if (!related) {
    VESK_LOG(INFO) << "Load URL: " << url;
    webkit_web_view_load_uri(browser_, url.c_str());
  }
  return true;
}

void BrowserHost::Show() {
  gtk_widget_show(GTK_WIDGET(window_));
  gtk_window_present(window_);
}

void BrowserHost::ExecuteScript(const std::string& script) {
  VESK_REQUIRE_MAIN_THREAD();
  if (!browser_) return;
  webkit_web_view_evaluate_javascript(browser_, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                      "", nullptr, nullptr, nullptr);
}

void BrowserHost::RequestClose() {
  VESK_REQUIRE_MAIN_THREAD();
  if (close_pending_ || !window_) return;
  if (!browser_) {
    gtk_widget_destroy(GTK_WIDGET(window_));
    return;
  }
  // The window stays open while the page decides; the page may be busy in
  // a request to us, so the answer comes back as a callback.
  close_pending_ = true;
  std::weak_ptr<bool> alive = alive_;
  PageBridge::Get().AskCloseHandler(browser_, [this, alive](bool keep_open) {
    if (alive.expired()) return;
    close_pending_ = false;
    if (!keep_open && window_) gtk_widget_destroy(GTK_WIDGET(window_));
  });
}

bool BrowserHost::DoCloseMainBrowser(WebKitWebView* view) {
  VESK_DCHECK(browser_ && view == browser_);
  RequestClose();
  return false;
}

void BrowserHost::SetDevToolsShown(bool show) {
  if (browser_) {
    if (show) webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(browser_), TRUE);
    WebKitWebInspector* inspector = webkit_web_view_get_inspector(browser_);
    if (!inspector_watched_) {
      // An inspector closed by other means than F12 is closed all the same;
      // otherwise the next F12 would only "close" it again.
      inspector_watched_ = true;
      g_signal_connect(inspector, "closed", G_CALLBACK(OnInspectorClosed), this);
    }
    if (show)
      webkit_web_inspector_show(inspector);
    else
      webkit_web_inspector_close(inspector);
  }
  dev_tools_shown_ = show;
}

WebKitWebView* BrowserHost::CreateRequestedView(WebKitWebView* parent) {
  if (!pending_launch_) return nullptr;
  const LaunchRequest launch = *pending_launch_;
  pending_launch_.reset();
  auto* host = new BrowserHost(false);
  if (!host->Create(launch.rect, !launch.taskbar_button)) {
    delete host;
    return nullptr;
  }
  host->CreateBrowser(launch.url, parent);
  host->show_when_ready_ =
      launch.visible || CommandLine::ForCurrentProcess().HasSwitch(switches::kForceShowWindow);
  VESK_LOG(INFO) << "Launch window: " << launch.url;
  return host->browser_;
}

void BrowserHost::OnInspectorClosed(WebKitWebInspector*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  static_cast<BrowserHost*>(self)->dev_tools_shown_ = false;
}

void BrowserHost::OnMainBrowserClosed() {
  if (client_handlers_) client_handlers_->DetachDelegate();
  client_handlers_ = nullptr;
  if (browser_ && page_id_handler_) g_signal_handler_disconnect(browser_, page_id_handler_);
  page_id_handler_ = 0;
  browser_ = nullptr;
  PublishState();  // the page's requests find no window now
}

void BrowserHost::ExitApplication() { ModalDialogList::Get().CloseAllAndQuit(); }

void BrowserHost::OnTrayButton(bool left, bool press) {
  if (press) return;
  ExecuteScript(left ? "window.app.getTrayIcon().onClick();" : "window.app.getTrayIcon().onRightClick();");
}

void BrowserHost::OnTaskbarCreated() {
  if (!browser_) {
    VESK_PLOG(INFO) << "Here is no browser to execute javascript function when task bar restart";
    return;
  }
  ExecuteScript("app && app.onTaskbarRestart && app.onTaskbarRestart()");
}

bool BrowserHost::IsAeroStyleEnabled() {
  const CommandLine& command_line = CommandLine::ForCurrentProcess();
  const std::string forced = command_line.GetSwitchValue(switches::kForceAeroStyle);
  if (forced == "on") return true;
  if (forced == "off") return false;
  GdkScreen* screen = window_ ? gtk_widget_get_screen(GTK_WIDGET(window_)) : gdk_screen_get_default();
  return screen && gdk_screen_is_composited(screen);
}

void BrowserHost::OnLostActivation() {
  // Only losing the foreground to another program counts: when another of
  // our windows became active, nothing happens. The application as a whole
  // lost it, so every window with a page hears of it.
  std::vector<BrowserHost*> hosts;
  bool ours_active = false;
  g_autoptr(GList) toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    if (gtk_window_is_active(GTK_WINDOW(item->data))) ours_active = true;
    GtkWidget* child = GTK_IS_BIN(item->data) ? gtk_bin_get_child(GTK_BIN(item->data)) : nullptr;
    if (BrowserHost* host =
            child && WEBKIT_IS_WEB_VIEW(child) ? FromWebView(WEBKIT_WEB_VIEW(child)) : nullptr)
      hosts.push_back(host);
  }
  if (ours_active) return;
  for (BrowserHost* host : hosts)
    if (host->browser_) host->ExecuteScript("winhelper && winhelper.onLoseFocus && winhelper.onLoseFocus()");
}

void BrowserHost::OnDestroy(GtkWidget*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnDestroy", [self] {
    auto* host = static_cast<BrowserHost*>(self);
    const bool was_main = host->is_main_window_;
    host->OnMainBrowserClosed();
    host->window_ = nullptr;
    delete host;
    --window_count_;
    if (was_main) UiApp::Get().OnMainWindowDestroyed();
    if (window_count_ == 0) UiApp::Get().OnLastWindowDestroyed();
  });
}

gboolean BrowserHost::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnDeleteEvent", [self] { static_cast<BrowserHost*>(self)->RequestClose(); });
  return TRUE;  // the close protocol decides
}

void BrowserHost::OnHide(GtkWidget*, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnHide", [] { malloc_trim(0); });
}

void BrowserHost::OnActiveChanged(GObject*, GParamSpec*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnActiveChanged", [self] {
    auto* host = static_cast<BrowserHost*>(self);
    if (!host->window_ || gtk_window_is_active(host->window_)) return;
    // Activation moves between our own windows in two steps; look once the
    // other window had its chance to become active.
    struct Pending {
      std::weak_ptr<bool> alive;
      BrowserHost* host;
    };
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 50,
        [](gpointer data) -> gboolean {
          auto* pending = static_cast<Pending*>(data);
          if (!pending->alive.expired())
            Guarded("BrowserHost::OnLostActivation", [pending] { pending->host->OnLostActivation(); });
          return G_SOURCE_REMOVE;
        },
        new Pending{host->alive_, host}, [](gpointer data) { delete static_cast<Pending*>(data); });
  });
}

gboolean BrowserHost::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnWindowState", [self, event] {
    auto* host = static_cast<BrowserHost*>(self);
    if (event->changed_mask & GDK_WINDOW_STATE_ABOVE) {
      host->topmost_ = (event->new_window_state & GDK_WINDOW_STATE_ABOVE) != 0;
      host->PublishState();
    }
    if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) host->ApplySizeLimits();
  });
  return FALSE;
}

gboolean BrowserHost::OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnConfigure",
          [self, event] { static_cast<BrowserHost*>(self)->OnResized(event->width, event->height); });
  return FALSE;
}

gboolean BrowserHost::OnGeometryEvent(GtkWidget*, GdkEvent*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  static_cast<BrowserHost*>(self)->ForgetServerRect();
  return FALSE;
}

void BrowserHost::OnRealize(GtkWidget* widget, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnRealize", [widget, self] {
    auto* host = static_cast<BrowserHost*>(self);
    host->StopWatchingLayout();
    host->ForgetServerRect();
    host->layout_clock_ = ObjectRef<GdkFrameClock>::Share(gtk_widget_get_frame_clock(widget));
    if (host->layout_clock_)
      host->layout_handler_ =
          g_signal_connect(host->layout_clock_.get(), "layout", G_CALLBACK(OnLayout), host);
  });
}

void BrowserHost::OnUnrealize(GtkWidget*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnUnrealize", [self] { static_cast<BrowserHost*>(self)->StopWatchingLayout(); });
}

void BrowserHost::OnLayout(GdkFrameClock*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  static_cast<BrowserHost*>(self)->ForgetServerRect();
}

void BrowserHost::OnMappedChanged(GtkWidget*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  static_cast<BrowserHost*>(self)->ForgetServerRect();
}

void BrowserHost::OnPageIdChanged(GObject*, GParamSpec*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnPageIdChanged", [self] { static_cast<BrowserHost*>(self)->PublishState(); });
}

void BrowserHost::ForgetServerRect() {
  server_rect_.reset();
  PublishState();
}

void BrowserHost::PublishState() {
  VESK_REQUIRE_MAIN_THREAD();
  const guint64 page_id = browser_ ? webkit_web_view_get_page_id(browser_) : 0;
  if (published_page_id_ && published_page_id_ != page_id) PublishedWindows::Get().Forget(published_page_id_);
  published_page_id_ = page_id;
  if (!page_id) return;
  PublishedWindows::State state;
  state.opacity = opacity_;
  state.topmost = topmost_;
  if (window_ && gtk_widget_get_mapped(GTK_WIDGET(window_))) state.rect = server_rect_;
  PublishedWindows::Get().Publish(page_id, state);
}

void BrowserHost::StopWatchingLayout() {
  if (layout_clock_ && layout_handler_) g_signal_handler_disconnect(layout_clock_.get(), layout_handler_);
  layout_handler_ = 0;
  layout_clock_.reset();
}

void BrowserHost::OnCompositedChanged(GdkScreen*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnCompositedChanged", [self] {
    auto* host = static_cast<BrowserHost*>(self);
    host->ExecuteScript("window.os.onaerostylechanged && window.os.onaerostylechanged();");
  });
}

void BrowserHost::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnLoadChanged", [view, event] {
    if (event != WEBKIT_LOAD_FINISHED) return;
    const char* uri = webkit_web_view_get_uri(view);
    VESK_LOG(INFO) << "Load finished: " << (uri ? uri : "");
  });
}

void BrowserHost::OnReadyToShow(WebKitWebView*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("BrowserHost::OnReadyToShow", [self] {
    auto* host = static_cast<BrowserHost*>(self);
    if (host->show_when_ready_) host->Show();
  });
}

}  // namespace vesk
