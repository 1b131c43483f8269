#include "channel/page_messages.h"

#include <map>
#include <vector>

#include "browser/browser_host.h"
#include "ui_app.h"
#include "vesk/core/channel/page_messages.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

// A direct call waiting for its page's answer. It is settled exactly once:
// by the answer, or by the web process's end (the engine may never answer a
// page whose process is gone).
struct PendingCall {
  WebKitWebView* view = nullptr;
  std::string what;  // for the log
  std::function<void(bool answered, GVariant* answer)> settle;
  bool settled = false;
};

std::map<WebKitWebView*, std::vector<std::shared_ptr<PendingCall>>>& Waiting() {
  static auto* waiting = new std::map<WebKitWebView*, std::vector<std::shared_ptr<PendingCall>>>;
  return *waiting;
}

void Forget(const std::shared_ptr<PendingCall>& call) {
  auto it = Waiting().find(call->view);
  if (it == Waiting().end()) return;
  std::erase(it->second, call);
  if (it->second.empty()) Waiting().erase(it);
}

// Runs the call's completion once; |answer| is the reply's parameters.
void Settle(const std::shared_ptr<PendingCall>& call, bool answered, GVariant* answer) {
  if (call->settled) return;
  call->settled = true;
  Forget(call);
  call->settle(answered, answer);
}

void OnReply(GObject* view, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<std::shared_ptr<PendingCall>> call(static_cast<std::shared_ptr<PendingCall>*>(data));
  Guarded("page answer", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(WebKitUserMessage) reply =
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (error && !(*call)->settled)
      VESK_LOG(WARNING) << (*call)->what << " not answered by the page: " << error->message;
    Settle(*call, reply != nullptr, reply ? webkit_user_message_get_parameters(reply) : nullptr);
  });
}

void Send(WebKitWebView* view, WebKitUserMessage* message, std::string what,
          std::function<void(bool answered, GVariant* answer)> settle) {
  auto call = std::make_shared<PendingCall>(PendingCall{view, std::move(what), std::move(settle)});
  Waiting()[view].push_back(call);
  webkit_web_view_send_message_to_page(view, message, nullptr, OnReply,
                                       new std::shared_ptr<PendingCall>(call));
}

}  // namespace

void WebPageBridge::AskCloseHandler(WebKitWebView* view, std::function<void(bool)> done) {
  VESK_REQUIRE_MAIN_THREAD();
  // A page that cannot answer (gone, crashed) does not keep its window.
  Send(view, webkit_user_message_new(channel::kCloseMessage, nullptr), "Close request",
       [done = std::move(done)](bool, GVariant* answer) {
         done(answer ? channel::ReadCloseAnswer(answer).value_or(false) : false);
       });
}

void WebPageMessageDelivery::CallPageHandler(int32_t id, IPC::Completion done) {
  VESK_REQUIRE_MAIN_THREAD();
  BrowserHost* main_window = UiApp::Get().main_window();
  if (!main_window || !main_window->web_view()) {
    VESK_LOG(INFO) << "IPC message " << id << ": no page to deliver to";
    done.Run();
    return;
  }
  auto shared_done = std::make_shared<IPC::Completion>(std::move(done));
  Send(main_window->web_view(),
       webkit_user_message_new(channel::kInstanceMessage, channel::InstanceMessagePayload(id)),
       "IPC message " + std::to_string(id),
       [shared_done](bool, GVariant*) { shared_done->Run(); });  // releases the sender
}

void FailWaitingPageCalls(WebKitWebView* view, const std::string& reason) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = Waiting().find(view);
  if (it == Waiting().end()) return;
  // Settling runs completions, which may send again: work on a copy.
  const std::vector<std::shared_ptr<PendingCall>> calls = it->second;
  for (const auto& call : calls) {
    if (call->settled) continue;
    VESK_LOG(WARNING) << call->what << " failed: " << reason;
    Settle(call, false, nullptr);
  }
}

}  // namespace vesk
