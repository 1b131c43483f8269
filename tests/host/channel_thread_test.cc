// The page channel's own thread against real windows: reads it answers from
// what the main thread published stay in order with the changes a request
// before them made, a window moved by another client shows at once, and the
// channel stops cleanly while a request waits for the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "browser/browser_host.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel_peer.h"
#include "host_test_util.h"

namespace vesk {
namespace {

using testing::ChannelPeer;
using testing::SpinUntil;

class ChannelThreadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(Start()); }
  static void TearDownTestSuite() { ChannelServer::Get().Stop(); }
  void TearDown() override {
    hold = nullptr;
    main_thread_ops.clear();
  }

  // What reaches the main thread is recorded; |hold| may keep the answer.
  static bool Start() {
    return ChannelServer::Get().Start(
        [](const channel::Request& request, ChannelServer::Answer answer) {
          main_thread_ops.push_back(request.op);
          if (hold && hold(request, answer)) return;
          ServeChannelRequest(request, std::move(answer));
        },
        PublishedStateAnswers());
  }

  static BrowserHost* OpenWindow() {
    BrowserHost* host =
        BrowserHost::CreateBrowserHost(testing::DataUrl("<p>x</p>"), {0, 0, 400, 300}, true, false);
    EXPECT_TRUE(testing::WaitForLoad(host->web_view()));
    return host;
  }
  static uint64_t PageOf(BrowserHost* host) { return webkit_web_view_get_page_id(host->web_view()); }

  static void Handshake(ChannelPeer& peer, std::optional<std::string> lane = std::nullopt) {
    ASSERT_TRUE(peer.connected());
    peer.Send(ChannelPeer::Hello(ChannelServer::Get().token(), std::move(lane)));
    const auto welcome = peer.Receive();
    ASSERT_TRUE(welcome);
    ASSERT_EQ(welcome->error, channel::Error::kOk);
  }

  static Json::Value Opacity(double value) {
    Json::Value args(Json::objectValue);
    args["opacity"] = value;
    return args;
  }

  static void ExpectLongAnswerWhole(std::optional<std::string> lane);

  static inline std::vector<channel::Op> main_thread_ops;
  static inline std::function<bool(const channel::Request&, ChannelServer::Answer&)> hold;
};

TEST_F(ChannelThreadTest, ReadsAnsweredOnTheChannelThreadFollowTheChangesBeforeThem) {
  BrowserHost* host = OpenWindow();
  const uint64_t page = PageOf(host);
  ChannelPeer peer;
  Handshake(peer);
  // All at once: each read waits until the change before it was answered.
  peer.Send(ChannelPeer::RequestFrame(channel::Op::kWinSetOpacity, page, Opacity(0.5)) +
            ChannelPeer::RequestFrame(channel::Op::kWinGetOpacity, page) +
            ChannelPeer::RequestFrame(channel::Op::kWinSetOpacity, page, Opacity(0.25)) +
            ChannelPeer::RequestFrame(channel::Op::kWinGetOpacity, page));
  for (double expected : {0.5, 0.25}) {
    const auto set = peer.Receive();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->error, channel::Error::kOk);
    const auto get = peer.Receive();
    ASSERT_TRUE(get);
    EXPECT_EQ(get->error, channel::Error::kOk);
    EXPECT_EQ(get->result["opacity"].asDouble(), expected);
  }
  EXPECT_EQ(main_thread_ops, (std::vector{channel::Op::kWinSetOpacity, channel::Op::kWinSetOpacity}))
      << "the reads never needed the main thread";

  // A window that is gone is no longer published: the main thread says so.
  gtk_widget_destroy(GTK_WIDGET(host->window()));
  peer.Send(ChannelPeer::RequestFrame(channel::Op::kWinGetOpacity, page));
  const auto gone = peer.Receive();
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->error, channel::Error::kNoWindow);
}

// The connection the main loop serves itself: requests sent right behind
// the hello are served, each only once the one before it has been answered,
// also when that answer comes later; and a change made there shows in the
// next read on the thread's connection, as the extension sends them.
TEST_F(ChannelThreadTest, TheMainLoopsLaneKeepsOrderAndFeedsTheThreadsReads) {
  BrowserHost* host = OpenWindow();
  const uint64_t page = PageOf(host);
  ChannelServer::Answer held;
  hold = [&held](const channel::Request& request, ChannelServer::Answer& answer) {
    if (request.op != channel::Op::kWinSetTitle) return false;
    held = std::move(answer);
    return true;
  };
  Json::Value title(Json::objectValue);
  title["title"] = "later";
  ChannelPeer main_lane;
  ASSERT_TRUE(main_lane.connected());
  main_lane.Send(ChannelPeer::Hello(ChannelServer::Get().token(), channel::kMainLane) +
                 ChannelPeer::RequestFrame(channel::Op::kWinSetTitle, page, title) +
                 ChannelPeer::RequestFrame(channel::Op::kWinSetOpacity, page, Opacity(0.5)));
  const auto welcome = main_lane.Receive();
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->error, channel::Error::kOk);
  ASSERT_TRUE(SpinUntil([&] { return static_cast<bool>(held); }));
  ASSERT_TRUE(testing::SpinPastQueuedIdles());
  EXPECT_EQ(main_thread_ops, std::vector{channel::Op::kWinSetTitle})
      << "the next request waits for the answer";
  held(channel::Response{});
  for (int answer = 0; answer < 2; ++answer) {
    const auto response = main_lane.Receive();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->error, channel::Error::kOk);
  }
  EXPECT_EQ(main_thread_ops, (std::vector{channel::Op::kWinSetTitle, channel::Op::kWinSetOpacity}));

  ChannelPeer thread_lane;
  Handshake(thread_lane);
  thread_lane.Send(ChannelPeer::RequestFrame(channel::Op::kWinGetOpacity, page));
  const auto read = thread_lane.Receive();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->result["opacity"].asDouble(), 0.5);
  EXPECT_EQ(main_thread_ops.size(), 2u) << "read from published state";
  gtk_widget_destroy(GTK_WIDGET(host->window()));
}

// An answer larger than the socket takes at once: the main thread writes
// what fits, and the rest goes as the peer reads (written by the channel's
// thread, or on the main loop's lane by the main loop).
TEST_F(ChannelThreadTest, AnAnswerTheSocketCannotTakeAtOnceArrivesWhole) {
  for (const std::optional<std::string>& lane :
       {std::optional<std::string>(), std::optional<std::string>(channel::kMainLane)}) {
    SCOPED_TRACE(lane.value_or("thread"));
    ExpectLongAnswerWhole(lane);
  }
}

void ChannelThreadTest::ExpectLongAnswerWhole(std::optional<std::string> lane) {
  Json::Value entries(Json::arrayValue);
  for (int i = 0; i < 600; ++i) {
    Json::Value pair(Json::arrayValue);
    const std::string number = std::to_string(1000 + i);  // the host keeps the entries sorted by key
    pair.append("key " + number);
    pair.append(std::string(1000, static_cast<char>('a' + i % 26)));
    entries.append(pair);
  }
  Json::Value args(Json::objectValue);
  args["entries"] = entries;
  ChannelPeer peer;
  Handshake(peer, lane);
  peer.Send(ChannelPeer::RequestFrame(channel::Op::kErrorSetData, 0, args) +
            ChannelPeer::RequestFrame(channel::Op::kErrorGetData, 0) +
            ChannelPeer::RequestFrame(channel::Op::kErrorSetData, 0));
  const auto set = peer.Receive();
  ASSERT_TRUE(set);
  EXPECT_EQ(set->error, channel::Error::kOk);
  const auto got = peer.Receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->error, channel::Error::kOk);
  EXPECT_EQ(got->result["entries"], entries);
  const auto cleared = peer.Receive();
  ASSERT_TRUE(cleared) << "the connection goes on after the long answer";
  EXPECT_EQ(cleared->error, channel::Error::kOk);
}

// Another client moves the window while the main thread waits idle in its
// loop, the state in which the channel's thread answers from the kept
// rectangle: the next answer shows the new place all the same.
TEST_F(ChannelThreadTest, AWindowMovedByAnotherClientShowsInTheNextAnswer) {
  BrowserHost* host = OpenWindow();
  const uint64_t page = PageOf(host);
  const WindowRect before = host->GetPosition().rect;  // kept and published now
  const Window xid = testing::XWindowOf(host->window());
  ChannelPeer peer;
  Handshake(peer);

  std::atomic<bool> done = false;
  std::vector<WindowRect> seen;
  std::thread mover([&] {
    auto position = [&]() -> std::optional<WindowRect> {
      peer.SendBlocking(ChannelPeer::RequestFrame(channel::Op::kWinGetPosition, page));
      const auto answer = peer.ReceiveBlocking();
      if (!answer || answer->error != channel::Error::kOk) return std::nullopt;
      const Json::Value& rect = answer->result["rect"];
      return WindowRect{rect["left"].asInt(), rect["top"].asInt(), rect["right"].asInt(),
                        rect["bottom"].asInt()};
    };
    Display* display = XOpenDisplay(nullptr);
    for (int step = 1; display && step <= 5; ++step) {
      if (auto rect = position()) seen.push_back(*rect);
      XMoveWindow(display, xid, 10 * step, 20 * step);
      XSync(display, False);  // the server has moved it and sent its events
      if (auto rect = position()) seen.push_back(*rect);
    }
    if (display) XCloseDisplay(display);
    done = true;
    g_main_context_wakeup(nullptr);
  });
  // Waits in the loop (not polling it), as the program does.
  while (!done) g_main_context_iteration(nullptr, TRUE);
  mover.join();

  ASSERT_EQ(seen.size(), 10u);
  EXPECT_EQ(seen[0], before);
  for (int step = 1; step <= 5; ++step) {
    const WindowRect moved{10 * step, 20 * step, 10 * step + before.width(), 20 * step + before.height()};
    EXPECT_EQ(seen[2 * step - 1], moved) << "right after move " << step;
    if (step < 5) {
      EXPECT_EQ(seen[2 * step], moved) << "asked again after move " << step;
    }
  }
  gtk_widget_destroy(GTK_WIDGET(host->window()));
}

TEST_F(ChannelThreadTest, StopsCleanlyWhileARequestWaitsForTheMainThread) {
  BrowserHost* host = OpenWindow();
  const uint64_t page = PageOf(host);
  std::vector<ChannelServer::Answer> held;
  hold = [&held](const channel::Request& request, ChannelServer::Answer& answer) {
    if (request.op != channel::Op::kWinSetTitle) return false;
    held.push_back(std::move(answer));
    return true;
  };
  Json::Value title(Json::objectValue);
  title["title"] = "held";
  {
    ChannelPeer waiting, waiting_on_main_lane;
    Handshake(waiting);
    Handshake(waiting_on_main_lane, channel::kMainLane);
    waiting.Send(ChannelPeer::RequestFrame(channel::Op::kWinSetTitle, page, title));
    waiting_on_main_lane.Send(ChannelPeer::RequestFrame(channel::Op::kWinSetTitle, page, title));
    ASSERT_TRUE(SpinUntil([&] { return held.size() == 2; }));
    // And one that may or may not have reached the main loop yet.
    ChannelPeer racing;
    Handshake(racing);
    racing.Send(ChannelPeer::RequestFrame(channel::Op::kWinSetTitle, page, title));

    ChannelServer::Get().Stop();
    const size_t handled = main_thread_ops.size();
    for (auto& answer : held) answer(channel::Response{});  // answers after the stop go nowhere
    ASSERT_TRUE(testing::SpinPastQueuedIdles());
    EXPECT_EQ(main_thread_ops.size(), handled) << "nothing is handled after the stop";
    EXPECT_FALSE(waiting.Receive()) << "the connection was closed";
    EXPECT_FALSE(waiting_on_main_lane.Receive());
    EXPECT_FALSE(racing.Receive());
  }

  // The channel starts again, with the token the extension already has.
  hold = nullptr;
  ASSERT_TRUE(Start());
  ChannelPeer again;
  Handshake(again);
  again.Send(ChannelPeer::RequestFrame(channel::Op::kWinSetTitle, page, title));
  const auto answer = again.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->error, channel::Error::kOk);
  EXPECT_STREQ(gtk_window_get_title(host->window()), "held");
  gtk_widget_destroy(GTK_WIDGET(host->window()));
}

}  // namespace
}  // namespace vesk
