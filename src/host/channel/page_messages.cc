#include "channel/page_messages.h"

#include "browser/browser_host.h"
#include "ui_app.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

struct CloseAnswer {
  std::function<void(bool)> done;
};

void OnCloseReply(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CloseAnswer> answer(static_cast<CloseAnswer*>(data));
  bool keep_open = false;
  try {
    GError* error = nullptr;
    WebKitUserMessage* reply =
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (reply) {
      GVariant* parameters = webkit_user_message_get_parameters(reply);
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
        gboolean value = FALSE;
        g_variant_get(parameters, "(b)", &value);
        keep_open = value;
      }
      g_object_unref(reply);
    }
    if (error) {
      // A page that cannot answer (gone, crashed) does not keep its window.
      VESK_LOG(WARNING) << "Close request not answered: " << error->message;
      g_error_free(error);
    }
    answer->done(keep_open);
  } catch (...) {
    VESK_LOG(ERROR) << "close answer failed";
  }
}

struct IpcAnswer {
  int32_t id;
  IPC::Completion done;
};

void OnIpcReply(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<IpcAnswer> answer(static_cast<IpcAnswer*>(data));
  GError* error = nullptr;
  WebKitUserMessage* reply =
      webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (reply) g_object_unref(reply);
  if (error) {
    VESK_LOG(WARNING) << "IPC message " << answer->id << " not answered by the page: " << error->message;
    g_error_free(error);
  }
  answer->done.Run();  // releases the sender
}

}  // namespace

void WebPageBridge::AskCloseHandler(WebKitWebView* view, std::function<void(bool)> done) {
  WebKitUserMessage* message = webkit_user_message_new("vesk.close", nullptr);
  webkit_web_view_send_message_to_page(view, message, nullptr, OnCloseReply,
                                       new CloseAnswer{std::move(done)});
}

void WebPageMessageDelivery::CallPageHandler(int32_t id, IPC::Completion done) {
  BrowserHost* main_window = UiApp::Get().main_window();
  if (!main_window || !main_window->web_view()) {
    VESK_LOG(INFO) << "IPC message " << id << ": no page to deliver to";
    done.Run();
    return;
  }
  WebKitUserMessage* message = webkit_user_message_new("vesk.ipc", g_variant_new("(i)", id));
  webkit_web_view_send_message_to_page(main_window->web_view(), message, nullptr, OnIpcReply,
                                       new IpcAnswer{id, std::move(done)});
}

}  // namespace vesk
