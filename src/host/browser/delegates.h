// What the engine handlers and the script objects may ask of the window that
// hosts them. BrowserHost implements all of them; nothing else reaches a
// window.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "vesk/core/browser/window_geometry.h"

namespace vesk {

class BrowserHost;

class ClientHandlersDelegate {
 public:
  virtual WebKitWebView* GetBrowser() = 0;
  // The main view asked to close (window.close): start a close request.
  virtual bool DoCloseMainBrowser(WebKitWebView* view) = 0;
  virtual void SetDevToolsShown(bool show) = 0;
  virtual bool IsDevToolsShown() = 0;
  virtual GtkWindow* GetHostWindow() = 0;
  // The view asks for a new view (window.open); null refuses it.
  virtual WebKitWebView* CreateRequestedView(WebKitWebView* parent) = 0;
  virtual void OnMainBrowserClosed() = 0;

 protected:
  virtual ~ClientHandlersDelegate() = default;
};

class AppDelegate {
 public:
  virtual void ExitApplication() = 0;

 protected:
  virtual ~AppDelegate() = default;
};

class BrowserDelegate {
 public:
  // A left-button click (press and release) at page coordinates: a real
  // user gesture to the engine.
  virtual void SendMouseClick(int x, int y) = 0;

 protected:
  virtual ~BrowserDelegate() = default;
};

class OsDelegate {
 public:
  virtual bool IsAeroStyleEnabled() = 0;

 protected:
  virtual ~OsDelegate() = default;
};

struct WindowPosition {
  WindowRect rect;
  bool topmost = false;
};

struct LaunchRequest {
  std::string url;
  WindowRect rect;
  bool visible = false;
  bool resizable = false;
  bool taskbar_button = false;
};

enum class ShowCommand { kShow, kHide, kRestore, kMinimize, kMaximize };

struct WindowStatus {
  bool visible = false;
  std::string status;  // "maximize", "minimize" or "restore"
};

class WinhelperDelegate {
 public:
  virtual void PopUpMenu(const std::string& json) = 0;
  // Records the launch the page is about to make through window.open; the
  // next view its page asks for becomes a new host window with these values.
  virtual void LaunchWindow(const LaunchRequest& request) = 0;
  virtual void SetIcon(const std::string& file_path) = 0;
  // Returns the error text ("" when none).
  virtual std::string SetPosition(const PositionRequest& request) = 0;
  virtual WindowPosition GetPosition() = 0;
  virtual void SetSizeLimit(int width, int height, bool is_maximum) = 0;
  virtual void Resize(int width, int height) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual double GetOpacity() = 0;
  virtual void SetOpacity(double opacity) = 0;
  virtual void BringToTop() = 0;
  // Window operations the page asks for directly.
  virtual void ShowWindow(ShowCommand command) = 0;
  virtual void BeginMoveDrag() = 0;
  virtual void BeginResizeDrag(GdkWindowEdge edge) = 0;
  virtual WindowStatus GetWindowStatus() = 0;

 protected:
  virtual ~WinhelperDelegate() = default;
};

}  // namespace vesk
