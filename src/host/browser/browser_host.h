// A top-level browser window: an undecorated GTK window with an RGBA visual
// holding one transparent web view, and everything the engine handlers and
// the page's script objects may ask of a window. The window owns this
// object: it deletes itself when the window is destroyed.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <string>

#include "browser/delegates.h"
#include "browser/shadow_frame.h"
#include "vesk/core/object_ref.h"

namespace vesk {

// The page channel reaches it through channel/channel_handlers.cc.
class BrowserHost : public ClientHandlersDelegate {
 public:
  using Rect = WindowRect;

  // Size given to a window whose rectangle is empty until its page sizes it;
  // a toplevel of zero size cannot be mapped.
  static constexpr int kDefaultWidth = 960;
  static constexpr int kDefaultHeight = 640;

  // Creates the window (hidden unless |show| or force-show-window) and
  // starts loading |url|.
  static BrowserHost* CreateBrowserHost(const std::string& url, const Rect& rect, bool show, bool tool_window,
                                        bool is_main_window = false);
  // The host of a view, or null.
  static BrowserHost* FromWebView(WebKitWebView* view);
  static BrowserHost* FromPageId(guint64 page_id);

  bool Create(const Rect& rect, bool tool_window);
  // |related| is the view whose web process the new view shares (a launch).
  bool CreateBrowser(const std::string& url, WebKitWebView* related = nullptr);

  GtkWindow* window() const { return window_; }
  WebKitWebView* web_view() const { return browser_; }
  bool is_main_window() const { return is_main_window_; }
  // Host windows that exist (shown or hidden) in this process.
  static int window_count() { return window_count_; }

  // Centres on the work area of the nearest monitor, kept inside it; size
  // and stacking order unchanged, not activated.
  void CenterOnWorkArea();
  void Show();
  // Runs a script text in the main frame; the result is ignored.
  void ExecuteScript(const std::string& script);
  // Starts the close protocol: the page's close handler may keep the window.
  void RequestClose();

  // Events other parts of the host forward to the window.
  void OnTrayButton(bool left, bool press);
  void OnTaskbarCreated();

  // ClientHandlersDelegate
  WebKitWebView* GetBrowser() override { return browser_; }
  bool DoCloseMainBrowser(WebKitWebView* view) override;
  void SetDevToolsShown(bool show) override;
  bool IsDevToolsShown() override { return dev_tools_shown_; }
  GtkWindow* GetHostWindow() override { return window_; }
  WebKitWebView* CreateRequestedView(WebKitWebView* parent) override;
  void OnMainBrowserClosed() override;

  void ExitApplication();
  // A left-button click (press and release) at page coordinates: a real
  // user gesture to the engine.
  void SendMouseClick(int x, int y);
  bool IsAeroStyleEnabled();

  // Window operations of the page's script objects (browser_host_window.cc).
  void PopUpMenu(const std::string& json);
  // Records the launch the page is about to make through window.open; the
  // next view its page asks for becomes a new host window with these values.
  void LaunchWindow(const LaunchRequest& request);
  // The page's window.open for the launch has returned: an announcement it
  // did not use (the engine refused the URL, the page or frame may not open
  // windows) must not make a later window.open a launch.
  void EndLaunch() { pending_launch_.reset(); }
  void SetIcon(const std::string& file_path);
  // Returns the error text ("" when none).
  std::string SetPosition(const PositionRequest& request);
  WindowPosition GetPosition();
  void SetSizeLimit(int width, int height, bool is_maximum);
  void SetTitle(const std::string& title);
  double GetOpacity() const { return opacity_; }
  void SetOpacity(double opacity);
  void BringToTop();
  void ShowWindow(ShowCommand command);
  void BeginMoveDrag();
  void BeginResizeDrag(GdkWindowEdge edge);
  WindowStatus GetWindowStatus();

 private:
  explicit BrowserHost(bool is_main_window);
  ~BrowserHost() override;
  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  void ConnectWindowSignals();
  void ApplySizeLimits();
  SizeLimits CurrentSizeLimits() const;
  bool WithinSizeLimits(int width, int height) const;
  // Puts lifted size limits back in force (the user is about to size the
  // window, or it is being maximised).
  void EnforceSizeLimits();
  // A size the page asked for, applied whatever the size limits say.
  void ResizeAsAsked(int width, int height);
  // The window system gave the window this size.
  void OnResized(int width, int height);
  bool IsShown() const;
  bool IsMaximized() const;
  bool IsMinimized() const;
  void OnLostActivation();

  static void OnDestroy(GtkWidget* widget, gpointer self);
  static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void OnHide(GtkWidget* widget, gpointer self);
  static void OnActiveChanged(GObject* window, GParamSpec* param, gpointer self);
  static gboolean OnWindowState(GtkWidget* widget, GdkEventWindowState* event, gpointer self);
  static gboolean OnConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
  static void OnCompositedChanged(GdkScreen* screen, gpointer self);
  // Whatever may have moved or sized the window drops server_rect_.
  static gboolean OnGeometryEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void OnRealize(GtkWidget* widget, gpointer self);
  static void OnUnrealize(GtkWidget* widget, gpointer self);
  static void OnLayout(GdkFrameClock* clock, gpointer self);
  static void OnMappedChanged(GtkWidget* widget, gpointer self);
  static void OnPageIdChanged(GObject* view, GParamSpec* param, gpointer self);
  // Drops server_rect_ (something may have changed the window) and tells
  // the page channel.
  void ForgetServerRect();
  // Hands what the page channel's thread answers from (opacity, topmost,
  // the kept rectangle) to it; after every change of those, before the
  // request that made it is answered.
  void PublishState();
  void StopWatchingLayout();
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static void OnReadyToShow(WebKitWebView* view, gpointer self);
  static void OnInspectorClosed(WebKitWebInspector* inspector, gpointer self);

  static inline int window_count_ = 0;
  const bool is_main_window_;
  GtkWindow* window_ = nullptr;
  WebKitWebView* browser_ = nullptr;
  class ClientHandlers* client_handlers_ = nullptr;
  bool dev_tools_shown_ = false;
  bool inspector_watched_ = false;
  std::optional<Size> maximum_size_;
  std::optional<Size> minimum_size_;
  // The page gave the window a size outside its limits; the hints that
  // enforce them are off until the user sizes the window.
  bool size_limits_lifted_ = false;
  // The page asked for a size inside the limits while they were lifted:
  // they come back once the window has such a size.
  bool limits_back_on_resize_ = false;
  // The size the window was created with or the page last asked for.
  Size asked_size_;
  double opacity_ = 1.0;
  bool layered_ = false;
  bool topmost_ = false;
  // The window's rectangle as the X server last gave it, kept until an
  // event, a layout of the window (where GTK sends its own resizes) or a
  // move or resize of ours may have changed it.
  std::optional<WindowRect> server_rect_;
  // The page id the state was last published under; 0 for none.
  guint64 published_page_id_ = 0;
  gulong page_id_handler_ = 0;
  ObjectRef<GdkFrameClock> layout_clock_;
  gulong layout_handler_ = 0;
  bool close_pending_ = false;
  bool show_when_ready_ = false;
  std::optional<LaunchRequest> pending_launch_;
  std::unique_ptr<ShadowFrame> shadow_frame_;
  gulong composited_handler_ = 0;
  // Guards callbacks that may arrive after the window is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vesk
