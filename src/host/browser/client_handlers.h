// One ClientHandlers per window: the system's policy towards the engine.
// No pop-ups except launches the page asked for, no engine context menu, F12
// for the inspector only with enable-dev-tools, load errors to the error
// page, the file chooser fed from the upload hand-off. Roles the engine needs
// no answer for keep the engine's defaults.
#pragma once

#include <webkit2/webkit2.h>

#include <deque>
#include <memory>
#include <string>

#include "browser/handler_base.h"

namespace vesk {

class LifeSpanHandler : public HandlerBase {
 public:
  using HandlerBase::HandlerBase;
  // Null refuses the pop-up.
  WebKitWebView* OnBeforePopup(WebKitWebView* parent);
  void DoClose(WebKitWebView* view);
};

class LoadHandler : public HandlerBase {
 public:
  using HandlerBase::HandlerBase;
  // A load failed in any frame. True when the error page was loaded in the
  // main frame (or the failure needs no page); false leaves the engine's own
  // error display.
  bool OnLoadError(WebKitWebView* view, const char* failed_url, const GError* error);

  // The engine reports only the main frame's failures itself. A frame's
  // document is recognised as the load of a URL a frame navigated to.
  void OnFrameNavigation(const std::string& url);
  bool IsFrameDocument(const std::string& url) const;

 private:
  // The most recent frame navigations; a few suffice, a page can start many.
  std::deque<std::string> frame_navigations_;
};

class KeyboardHandler : public HandlerBase {
 public:
  using HandlerBase::HandlerBase;
  bool OnKeyEvent(const GdkEventKey* event);
};

class MenuHandler : public HandlerBase {
 public:
  using HandlerBase::HandlerBase;
  bool OnBeforeMenu() { return true; }  // the engine never shows its menu
};

class JSDialogHandler : public HandlerBase {
 public:
  using HandlerBase::HandlerBase;
  bool OnFileChooser(WebKitFileChooserRequest* request);
};

// Roles whose engine defaults stand: every navigation goes ahead, focus,
// printing, find, rendering and dragging behave as the engine decides.
// Script contexts are set up by the web extension in the web process.
class RequestHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class DisplayHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class FocusHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class PrintHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class FindHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class RenderHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class DragHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};
class V8ContextHandler : public HandlerBase {
  using HandlerBase::HandlerBase;
};

class ClientHandlers {
 public:
  // Connects the handlers to |view|'s signals. The object lives as long as
  // the view (it is kept in the view's data).
  static ClientHandlers* Attach(WebKitWebView* view, ClientHandlersDelegate* delegate);
  ~ClientHandlers() = default;

  void DetachDelegate();

 private:
  explicit ClientHandlers(ClientHandlersDelegate* delegate);

  static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);
  static void OnClose(WebKitWebView* view, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error,
                               gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean OnContextMenu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent* event,
                                WebKitHitTestResult* hit, gpointer self);
  static gboolean OnRunFileChooser(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer self);
  static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static void OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                    WebKitURIRequest* request, gpointer self);
  static void OnFrameDocumentFailed(WebKitWebResource* resource, GError* error, gpointer view);

  // In the order the handlers are created.
  DragHandler drag_;
  DisplayHandler display_;
  FindHandler find_;
  FocusHandler focus_;
  JSDialogHandler js_dialog_;
  KeyboardHandler keyboard_;
  LifeSpanHandler life_span_;
  LoadHandler load_;
  MenuHandler menu_;
  RenderHandler render_;
  RequestHandler request_;
  PrintHandler print_;
  V8ContextHandler v8_context_;
};

}  // namespace vesk
