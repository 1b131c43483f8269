// The page channel and the direct calls with the real engine and the real
// web extension: the UI process never waits for a web process, even when a
// page is blocked in a request at the moment the host needs the page.
#include <gtest/gtest.h>

#include <optional>

#include "browser/browser_host.h"
#include "browser/page_bridge.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel/page_messages.h"
#include "channel_peer.h"
#include "engine.h"
#include "host_test_util.h"
#include "ui_app.h"

// Xlib (through the test helpers) defines Status as a macro.
#undef Status

namespace vesk {
namespace {

using testing::DataUrl;
using testing::Evaluate;
using testing::SpinUntil;
using testing::WaitForLoad;

class PageChannelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Engine::Get().set_web_extension_directory(VESK_TEST_WEBEXT_DIR);
    // The test pages are data: documents, which only an every-frame list
    // gives the script objects (the framework's default names its own hosts).
    UiApp::Get().set_plugin_origins({"*"});
    PageBridge::Set(std::make_unique<WebPageBridge>());
    ChannelServer::Get().Start([](const channel::Request& request, ChannelServer::Answer answer) {
      if (on_request) on_request(request);
      ServeChannelRequest(request, std::move(answer));
    });
  }
  void TearDown() override { on_request = nullptr; }

  BrowserHost* OpenPage(const std::string& html) {
    BrowserHost* host = BrowserHost::CreateBrowserHost(DataUrl(html), {0, 0, 400, 300}, true, false);
    EXPECT_TRUE(WaitForLoad(host->web_view()));
    return host;
  }

  static std::string Title(BrowserHost* host) {
    const char* title = webkit_web_view_get_title(host->web_view());
    return title ? title : "";
  }

  static inline std::function<void(const channel::Request&)> on_request;
};

TEST_F(PageChannelTest, ObjectsAreBoundAndCallsReachTheWindow) {
  BrowserHost* host = OpenPage("<p>x</p>");
  EXPECT_EQ(Evaluate(host->web_view(),
                     "[typeof app, typeof browser, typeof os, typeof security, "
                     "typeof winhelper].join()"),
            "object,object,object,object,object");
  EXPECT_EQ(Evaluate(host->web_view(), "winhelper.setWindowTitle('from the page'); 'ok'"), "ok");
  EXPECT_STREQ(gtk_window_get_title(host->window()), "from the page");
  EXPECT_EQ(Evaluate(host->web_view(), "try { winhelper.setWindowTitle(1) } catch (e) { e.message }"),
            "arguments[0] should be String");
  gtk_widget_destroy(GTK_WIDGET(host->window()));
}

TEST_F(PageChannelTest, CloseRequestWhilePageIsBlockedInARequestDoesNotDeadlock) {
  BrowserHost* host = OpenPage(
      "<script>"
      "winhelper.onClose = function () { document.title = 'asked after ' + window.calls; return true; };"
      "function run() { window.calls = 0;"
      "  for (var i = 0; i < 50; i++) { winhelper.getWindowOpacity(); window.calls++; } }"
      "</script>");
  GtkWindow* window = host->window();
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  int ticks = 0;
  const guint timer = g_timeout_add(
      5, [](gpointer data) -> gboolean { return ++*static_cast<int*>(data), G_SOURCE_CONTINUE; }, &ticks);
  bool close_requested = false;
  // The first request of the page's loop makes the host need the page: the
  // page is blocked in that very request when the close question goes out.
  on_request = [&](const channel::Request& request) {
    if (request.op == channel::Op::kWinGetOpacity && !close_requested) {
      close_requested = true;
      host->RequestClose();
    }
  };
  webkit_web_view_evaluate_javascript(host->web_view(), "run()", -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
  // The page finishes its requests first, then answers the close question
  // with true: the window stays.
  EXPECT_TRUE(SpinUntil([&] { return Title(host) == "asked after 50"; }));
  EXPECT_TRUE(close_requested);
  EXPECT_GT(ticks, 0) << "the main loop kept running";
  EXPECT_NE(window, nullptr);

  // A handler that does not return true lets the window go.
  EXPECT_EQ(Evaluate(host->web_view(), "winhelper.onClose = function () { return 'no'; }; 1"), "1");
  host->RequestClose();
  EXPECT_TRUE(SpinUntil([&] { return window == nullptr; }));
  g_source_remove(timer);
}

TEST_F(PageChannelTest, RequestsForAWindowThatIsGoneFailClearly) {
  BrowserHost* host = OpenPage("<p>x</p>");
  WebKitWebView* view = host->web_view();
  const guint64 page_id = webkit_web_view_get_page_id(view);
  channel::Request request;
  request.op = channel::Op::kWinGetPosition;
  request.page_id = page_id;
  EXPECT_EQ(HandleChannelRequest(request).error, channel::Error::kOk);
  gtk_widget_destroy(GTK_WIDGET(host->window()));
  EXPECT_EQ(HandleChannelRequest(request).error, channel::Error::kNoWindow);
  request.op = static_cast<channel::Op>(999);
  request.page_id = 0;
  EXPECT_EQ(HandleChannelRequest(request).error, channel::Error::kNoWindow);
  request.op = channel::Op::kErrorSetData;
  request.args["entries"] = "not an array";
  EXPECT_EQ(HandleChannelRequest(request).error, channel::Error::kOk);  // nothing usable, nothing stored
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

using testing::ChannelPeer;

TEST_F(PageChannelTest, PeersWithoutTheTokenOrWithGarbageAreCutOff) {
  {
    ChannelPeer peer;
    ASSERT_TRUE(peer.connected());
    peer.Send(ChannelPeer::Hello("not the token"));
    EXPECT_FALSE(peer.Receive()) << "a wrong token closes the connection";
  }
  {
    ChannelPeer peer;
    channel::Request request;
    request.op = channel::Op::kErrorGetData;
    peer.Send(channel::Frame(channel::EncodeRequest(request)));
    EXPECT_FALSE(peer.Receive()) << "a request before the handshake closes the connection";
  }
  {
    ChannelPeer peer;
    peer.Send(ChannelPeer::Hello(ChannelServer::Get().token()));
    auto answer = peer.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->error, channel::Error::kOk);
    peer.Send(channel::Frame("{not json"));
    answer = peer.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->error, channel::Error::kBadRequest) << "malformed requests get an answer";
    const char oversized[4] = {0, 0, 0, 0x7F};
    peer.Send(std::string(oversized, 4));
    answer = peer.Receive();
    ASSERT_TRUE(answer) << "an oversized frame is answered as too large";
    EXPECT_EQ(answer->error, channel::Error::kTooLarge);
    EXPECT_FALSE(peer.Receive()) << "and then the connection is closed";
  }
  // The server goes on serving others.
  ChannelPeer peer;
  peer.Send(ChannelPeer::Hello(ChannelServer::Get().token()));
  EXPECT_TRUE(peer.Receive());
}

}  // namespace
}  // namespace vesk
