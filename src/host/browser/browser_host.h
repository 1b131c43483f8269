// A top-level browser window: an undecorated GTK window with an RGBA visual
// holding one transparent web view. The window owns this object: it deletes
// itself when the window is destroyed.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

namespace vesk {

class BrowserHost {
 public:
  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
  };

  // Size given to a window whose rectangle is empty until its page sizes it;
  // a toplevel of zero size cannot be mapped.
  static constexpr int kDefaultWidth = 960;
  static constexpr int kDefaultHeight = 640;

  // Creates the window (hidden unless |show|) and starts loading |url|.
  static BrowserHost* CreateBrowserHost(const std::string& url, Rect rect, bool show, bool tool_window,
                                        bool is_main_window);

  GtkWindow* window() const { return window_; }
  WebKitWebView* web_view() const { return web_view_; }

  // Centres on the work area of the nearest monitor, kept inside it; size and
  // stacking order unchanged, not activated.
  void CenterOnWorkArea();
  void Show();

 private:
  BrowserHost(bool is_main_window);
  ~BrowserHost();
  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  void Create(Rect rect, bool tool_window);
  void CreateBrowser(const std::string& url);
  void ApplyCrossOriginWhitelist(const std::string& url);

  static void OnDestroy(GtkWidget* widget, gpointer self);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error,
                               gpointer self);

  const bool is_main_window_;
  GtkWindow* window_ = nullptr;
  WebKitWebView* web_view_ = nullptr;
};

}  // namespace vesk
