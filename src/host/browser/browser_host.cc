#include "browser/browser_host.h"

#include <algorithm>

#include "engine.h"
#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/logging.h"
#include "vesk_app.h"

namespace vesk {
namespace {

// Every GTK callback stops exceptions here: none may cross into C.
template <typename Fn>
void Guarded(const char* where, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    VESK_LOG(ERROR) << where << " threw: " << error.what();
  } catch (...) {
    VESK_LOG(ERROR) << where << " threw";
  }
}

}  // namespace

BrowserHost* BrowserHost::CreateBrowserHost(const std::string& url, Rect rect, bool show, bool tool_window,
                                            bool is_main_window) {
  auto* host = new BrowserHost(is_main_window);
  host->Create(rect, tool_window);
  host->CreateBrowser(url);
  if (show) host->Show();
  return host;
}

BrowserHost::BrowserHost(bool is_main_window) : is_main_window_(is_main_window) {}

BrowserHost::~BrowserHost() = default;

void BrowserHost::Create(Rect rect, bool tool_window) {
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_decorated(window_, FALSE);
  gtk_widget_set_app_paintable(GTK_WIDGET(window_), TRUE);
  GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(window_));
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen))
    gtk_widget_set_visual(GTK_WIDGET(window_), visual);
  if (tool_window) {
    gtk_window_set_type_hint(window_, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_skip_taskbar_hint(window_, TRUE);
  }
  const int width = rect.width > 0 ? rect.width : kDefaultWidth;
  const int height = rect.height > 0 ? rect.height : kDefaultHeight;
  gtk_window_set_default_size(window_, width, height);
  gtk_window_move(window_, rect.x, rect.y);
  g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
}

void BrowserHost::CreateBrowser(const std::string& url) {
  Engine& engine = Engine::Get();
  web_view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", engine.context(), "settings",
                                           engine.settings(), nullptr));
  const GdkRGBA transparent{0, 0, 0, 0};
  webkit_web_view_set_background_color(web_view_, &transparent);
  // Files dropped on the window must not navigate the application away.
  gtk_drag_dest_unset(GTK_WIDGET(web_view_));
  g_signal_connect(web_view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(web_view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(web_view_));
  gtk_widget_show(GTK_WIDGET(web_view_));
  ApplyCrossOriginWhitelist(url);
  VESK_LOG(INFO) << "Load URL: " << url;
  webkit_web_view_load_uri(web_view_, url.c_str());
}

void BrowserHost::ApplyCrossOriginWhitelist(const std::string& url) {
  std::vector<std::string> patterns;
  for (const CrossOriginEntry& entry : VeskApp::Get().cross_origin_entries()) {
    if (!UrlHasOrigin(url, entry.source_origin)) continue;
    for (std::string& pattern : AllowListPatterns(entry)) patterns.push_back(std::move(pattern));
  }
  if (patterns.empty()) return;
  std::vector<const gchar*> list;
  for (const std::string& pattern : patterns) list.push_back(pattern.c_str());
  list.push_back(nullptr);
  webkit_web_view_set_cors_allowlist(web_view_, list.data());
}

void BrowserHost::CenterOnWorkArea() {
  GtkWidget* widget = GTK_WIDGET(window_);
  gtk_widget_realize(widget);
  GdkDisplay* display = gtk_widget_get_display(widget);
  GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(widget));
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) return;
  GdkRectangle area{};
  gdk_monitor_get_workarea(monitor, &area);
  int width = 0, height = 0;
  gtk_window_get_size(window_, &width, &height);
  int x = area.x + (area.width - width) / 2;
  int y = area.y + (area.height - height) / 2;
  x = std::max(area.x, std::min(x, area.x + area.width - width));
  y = std::max(area.y, std::min(y, area.y + area.height - height));
  gtk_window_move(window_, std::max(area.x, x), std::max(area.y, y));
}

void BrowserHost::Show() { gtk_window_present(window_); }

void BrowserHost::OnDestroy(GtkWidget*, gpointer self) {
  Guarded("BrowserHost::OnDestroy", [self] {
    auto* host = static_cast<BrowserHost*>(self);
    const bool was_main = host->is_main_window_;
    host->window_ = nullptr;
    host->web_view_ = nullptr;
    delete host;
    if (was_main) VeskApp::Get().OnMainWindowDestroyed();
  });
}

void BrowserHost::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  Guarded("BrowserHost::OnLoadChanged", [view, event] {
    if (event == WEBKIT_LOAD_FINISHED) {
      const char* uri = webkit_web_view_get_uri(view);
      VESK_LOG(INFO) << "Load finished: " << (uri ? uri : "");
    }
  });
}

gboolean BrowserHost::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
  Guarded("BrowserHost::OnLoadFailed", [uri, error] {
    VESK_LOG(WARNING) << "Load failed: " << (uri ? uri : "") << " " << (error ? error->message : "");
  });
  return FALSE;
}

}  // namespace vesk
