#include "browser/client_handlers.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>

#include "browser/modal_dialog_list.h"
#include "proxy_settings.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/command_line.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/object_ref.h"
#include "vesk/core/switches.h"
#include "vesk/core/thread_check.h"
#include "vesk/core/upload_request.h"

namespace vesk {
WebKitWebView* LifeSpanHandler::OnBeforePopup(WebKitWebView* parent) {
  // Only a launch the page announced through the host becomes a window; the
  // inspector opens through the engine without asking.
  return delegate_ ? delegate_->CreateRequestedView(parent) : nullptr;
}

void LifeSpanHandler::DoClose(WebKitWebView* view) {
  if (delegate_ && delegate_->GetBrowser() == view) delegate_->DoCloseMainBrowser(view);
}

bool LoadHandler::OnLoadError(WebKitWebView* view, const char* failed_url, const GError* error) {
  // Interrupted loads are no errors; the engine shows nothing for them.
  if (error && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return true;
  if (error && g_error_matches(error, WEBKIT_POLICY_ERROR,
                               WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
    return true;
  const std::string failed(failed_url ? failed_url : "");
  const std::string& handler_url = ErrorProcessor::Get().error_handler_url();
  // An error page that fails itself is not retried: that would load forever.
  if (!handler_url.empty() && failed.rfind(handler_url, 0) == 0) return false;
  const auto url = ErrorProcessor::Get().BuildErrorPageUrl(failed, error ? error->message : "");
  if (!url || !view) return false;
  VESK_LOG(INFO) << "Load error page: " << *url;
  webkit_web_view_load_uri(view, url->c_str());
  return true;
}

void LoadHandler::OnFrameNavigation(const std::string& url) {
  constexpr size_t kKept = 64;
  frame_navigations_.push_back(url);
  if (frame_navigations_.size() > kKept) frame_navigations_.pop_front();
}

bool LoadHandler::IsFrameDocument(const std::string& url) const {
  return std::find(frame_navigations_.begin(), frame_navigations_.end(), url) != frame_navigations_.end();
}

bool KeyboardHandler::OnKeyEvent(const GdkEventKey* event) {
  if (event->type != GDK_KEY_PRESS) return false;
  // Without the switch every key reaches the page.
  if (!CommandLine::ForCurrentProcess().HasSwitch(switches::kEnableDevTools)) return false;
  if (event->keyval == GDK_KEY_F12) {
    if (delegate_) delegate_->SetDevToolsShown(!delegate_->IsDevToolsShown());
    return true;
  }
  const bool control_only = (event->state & gtk_accelerator_get_default_mod_mask()) == GDK_CONTROL_MASK;
  const bool reload = event->keyval == GDK_KEY_F5 ||
                      (control_only && (event->keyval == GDK_KEY_r || event->keyval == GDK_KEY_R));
  if (!reload || !delegate_ || !delegate_->GetBrowser()) return false;
  VESK_LOG(INFO) << "Development reload: key pressed; reloading";
  webkit_web_view_reload_bypass_cache(delegate_->GetBrowser());
  return true;
}

bool JSDialogHandler::OnFileChooser(WebKitFileChooserRequest* request) {
  std::vector<std::string> pending = PendingUploadFiles::Get().TakeAll();
  if (!pending.empty()) {
    std::vector<const gchar*> files;
    for (const std::string& path : pending) files.push_back(path.c_str());
    files.push_back(nullptr);
    webkit_file_chooser_request_select_files(request, files.data());
    return true;
  }
  GtkWindow* owner = delegate_ ? delegate_->GetHostWindow() : nullptr;
  // Kept until the dialog answers.
  auto held = std::make_shared<ObjectRef<WebKitFileChooserRequest>>(
      ObjectRef<WebKitFileChooserRequest>::Share(request));
  ShowOpenFileDialog(owner, [request, held](bool chosen, std::vector<std::string> paths) {
    if (chosen) {
      std::vector<const gchar*> files;
      for (const std::string& path : paths) files.push_back(path.c_str());
      files.push_back(nullptr);
      webkit_file_chooser_request_select_files(request, files.data());
    } else {
      webkit_file_chooser_request_cancel(request);
    }
  });
  return true;
}

ClientHandlers::ClientHandlers(ClientHandlersDelegate* delegate)
    : drag_(delegate),
      display_(delegate),
      find_(delegate),
      focus_(delegate),
      js_dialog_(delegate),
      keyboard_(delegate),
      life_span_(delegate),
      load_(delegate),
      menu_(delegate),
      render_(delegate),
      request_(delegate),
      print_(delegate),
      v8_context_(delegate) {}

ClientHandlers* ClientHandlers::Attach(WebKitWebView* view, ClientHandlersDelegate* delegate) {
  auto* handlers = new ClientHandlers(delegate);
  g_object_set_data_full(G_OBJECT(view), "vesk-client-handlers", handlers,
                         [](gpointer data) { delete static_cast<ClientHandlers*>(data); });
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), handlers);
  g_signal_connect(view, "close", G_CALLBACK(OnClose), handlers);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), handlers);
  g_signal_connect(view, "key-press-event", G_CALLBACK(OnKeyPress), handlers);
  g_signal_connect(view, "context-menu", G_CALLBACK(OnContextMenu), handlers);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(OnRunFileChooser), handlers);
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), handlers);
  g_signal_connect(view, "resource-load-started", G_CALLBACK(OnResourceLoadStarted), handlers);
  g_signal_connect(view, "authenticate", G_CALLBACK(OnAuthenticate), nullptr);
  return handlers;
}

void ClientHandlers::DetachDelegate() {
  for (HandlerBase* handler : std::initializer_list<HandlerBase*>{
           &drag_, &display_, &find_, &focus_, &js_dialog_, &keyboard_, &life_span_, &load_, &menu_, &render_,
           &request_, &print_, &v8_context_})
    handler->DetachDelegate();
}

GtkWidget* ClientHandlers::OnCreate(WebKitWebView* view, WebKitNavigationAction*, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  return Guarded(
      "create",
      [&]() -> GtkWidget* {
        return GTK_WIDGET(static_cast<ClientHandlers*>(self)->life_span_.OnBeforePopup(view));
      },
      nullptr);
}

void ClientHandlers::OnClose(WebKitWebView* view, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("close", [&] { static_cast<ClientHandlers*>(self)->life_span_.DoClose(view); });
}

gboolean ClientHandlers::OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error,
                                      gpointer self) {
  return Guarded(
      "load-failed",
      [&]() -> gboolean {
        VESK_LOG(WARNING) << "Load failed: " << (uri ? uri : "") << " " << (error ? error->message : "");
        // Without an error page of the application's the engine shows its own.
        return static_cast<ClientHandlers*>(self)->load_.OnLoadError(view, uri, error) ? TRUE : FALSE;
      },
      FALSE);
}

gboolean ClientHandlers::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                        WebKitPolicyDecisionType type, gpointer self) {
  Guarded("decide-policy", [&] {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri) static_cast<ClientHandlers*>(self)->load_.OnFrameNavigation(uri);
  });
  return FALSE;  // the engine's default decision
}

void ClientHandlers::OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                           WebKitURIRequest* request, gpointer self) {
  Guarded("resource-load-started", [&] {
    // The main frame's own failures arrive as load-failed.
    if (resource == webkit_web_view_get_main_resource(view)) return;
    const char* uri = webkit_uri_request_get_uri(request);
    if (!uri || !static_cast<ClientHandlers*>(self)->load_.IsFrameDocument(uri)) return;
    g_signal_connect_object(resource, "failed", G_CALLBACK(OnFrameDocumentFailed), view, G_CONNECT_DEFAULT);
  });
}

void ClientHandlers::OnFrameDocumentFailed(WebKitWebResource* resource, GError* error, gpointer view) {
  Guarded("frame document failed", [&] {
    auto* handlers = static_cast<ClientHandlers*>(g_object_get_data(G_OBJECT(view), "vesk-client-handlers"));
    if (!handlers) return;
    const char* uri = webkit_web_resource_get_uri(resource);
    // A frame removed or navigated away while loading is no failure.
    if (error && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return;
    VESK_LOG(WARNING) << "Frame load failed: " << (uri ? uri : "") << " " << (error ? error->message : "");
    // A failure in any frame loads the error page in the main frame.
    handlers->load_.OnLoadError(WEBKIT_WEB_VIEW(view), uri, error);
  });
}

gboolean ClientHandlers::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  return Guarded(
      "key-press-event",
      [&]() -> gboolean {
        return static_cast<ClientHandlers*>(self)->keyboard_.OnKeyEvent(event) ? TRUE : FALSE;
      },
      FALSE);
}

gboolean ClientHandlers::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                       gpointer self) {
  return static_cast<ClientHandlers*>(self)->menu_.OnBeforeMenu() ? TRUE : FALSE;
}

gboolean ClientHandlers::OnRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  return Guarded(
      "run-file-chooser",
      [&]() -> gboolean {
        return static_cast<ClientHandlers*>(self)->js_dialog_.OnFileChooser(request) ? TRUE : FALSE;
      },
      FALSE);
}

}  // namespace vesk
