// What the engine handlers may ask of the window that hosts them. The page
// channel's delegates (what script objects may ask) are in
// vesk/core/channel/operations.h; the window's answers to them use the
// request and result types named here.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "vesk/core/channel/operations.h"

namespace vesk {

using channel::ShowCommand;
using LaunchRequest = channel::op::LaunchWindow::Request;
using WindowPosition = channel::op::GetWindowPosition::Result;
using WindowStatus = channel::op::GetWindowInfo::Result;

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

}  // namespace vesk
