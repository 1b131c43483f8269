#include "channel/page_messages.h"

#include "browser/browser_host.h"
#include "ui_app.h"
#include "vesk/core/channel/page_messages.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

struct CloseAnswer {
  std::function<void(bool)> done;
};

void OnCloseReply(GObject* view, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<CloseAnswer> answer(static_cast<CloseAnswer*>(data));
  Guarded("close answer", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(WebKitUserMessage) reply =
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error);
    bool keep_open = false;
    if (reply)
      keep_open = channel::ReadCloseAnswer(webkit_user_message_get_parameters(reply)).value_or(false);
    // A page that cannot answer (gone, crashed) does not keep its window.
    if (error) VESK_LOG(WARNING) << "Close request not answered: " << error->message;
    answer->done(keep_open);
  });
}

struct IpcAnswer {
  int32_t id;
  IPC::Completion done;
};

void OnIpcReply(GObject* view, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<IpcAnswer> answer(static_cast<IpcAnswer*>(data));
  Guarded("instance message answer", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(WebKitUserMessage) reply =
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (error)
      VESK_LOG(WARNING) << "IPC message " << answer->id << " not answered by the page: " << error->message;
  });
  answer->done.Run();  // releases the sender
}

}  // namespace

void WebPageBridge::AskCloseHandler(WebKitWebView* view, std::function<void(bool)> done) {
  VESK_REQUIRE_MAIN_THREAD();
  WebKitUserMessage* message = webkit_user_message_new(channel::kCloseMessage, nullptr);
  webkit_web_view_send_message_to_page(view, message, nullptr, OnCloseReply,
                                       new CloseAnswer{std::move(done)});
}

void WebPageMessageDelivery::CallPageHandler(int32_t id, IPC::Completion done) {
  VESK_REQUIRE_MAIN_THREAD();
  BrowserHost* main_window = UiApp::Get().main_window();
  if (!main_window || !main_window->web_view()) {
    VESK_LOG(INFO) << "IPC message " << id << ": no page to deliver to";
    done.Run();
    return;
  }
  WebKitUserMessage* message =
      webkit_user_message_new(channel::kInstanceMessage, channel::InstanceMessagePayload(id));
  webkit_web_view_send_message_to_page(main_window->web_view(), message, nullptr, OnIpcReply,
                                       new IpcAnswer{id, std::move(done)});
}

}  // namespace vesk
