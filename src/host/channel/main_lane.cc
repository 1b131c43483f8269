#include "channel/main_lane.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "channel/channel_thread.h"
#include "vesk/core/guarded.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

// One per web process; bounds what misbehaving peers can make us hold.
constexpr size_t kMaxConnections = 64;

// A main-loop source for one connection's socket, whose condition changes
// without making a new source.
struct LaneSource {
  GSource base;
  MainLane* lane;
  uint64_t serial;
  gpointer tag;
};

}  // namespace

void ServeOnMainThread(const ChannelHandler& handler, const channel::Request& request, ChannelAnswer answer) {
  VESK_REQUIRE_MAIN_THREAD();
  auto pending = std::make_shared<ChannelAnswer>(std::move(answer));
  const ChannelAnswer once = [pending](channel::Response response) {
    if (!*pending) return;
    const ChannelAnswer taken = std::exchange(*pending, nullptr);
    taken(std::move(response));
  };
  const bool served = Guarded(
      "Page channel request",
      [&] {
        handler(request, once);
        return true;
      },
      false);
  if (!served) {
    channel::Response failed;
    failed.error = channel::Error::kBadRequest;
    once(failed);
  }
}

namespace {

// Detaches and releases a connection's main-loop source.
struct SourceRelease {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};

}  // namespace

struct MainLane::Connection {
  Serial serial = 0;
  std::shared_ptr<ConnectionWire> wire;
  channel::FrameReader reader;
  std::unique_ptr<GSource, SourceRelease> source;
  gpointer tag = nullptr;
  unsigned watched = 0;  // the GIOCondition asked for
  bool awaiting_answer = false;
  bool dispatching = false;  // inside the handler: an answer at once needs no restart
};

MainLane::MainLane(ChannelHandler handler) : handler_(std::move(handler)) {}

MainLane::~MainLane() { CloseAll(); }

void MainLane::CloseAll() {
  VESK_REQUIRE_MAIN_THREAD();
  while (!connections_.empty()) Close(connections_.begin()->second.get());
}

void MainLane::Adopt(std::shared_ptr<ConnectionWire> wire, channel::FrameReader unread) {
  VESK_REQUIRE_MAIN_THREAD();
  if (connections_.size() >= kMaxConnections) {
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: too many connections; one refused";
    wire->Close();
    return;
  }
  static GSourceFuncs functions = {nullptr, nullptr, &MainLane::OnReady, nullptr, nullptr, nullptr};
  auto connection = std::make_unique<Connection>();
  connection->serial = next_serial_++;
  connection->wire = std::move(wire);
  connection->reader = std::move(unread);
  connection->watched = G_IO_IN | G_IO_HUP | G_IO_ERR;
  connection->source.reset(g_source_new(&functions, sizeof(LaneSource)));
  auto* watch = reinterpret_cast<LaneSource*>(connection->source.get());
  watch->lane = this;
  watch->serial = connection->serial;
  watch->tag = g_source_add_unix_fd(connection->source.get(), connection->wire->fd(),
                                    static_cast<GIOCondition>(connection->watched));
  connection->tag = watch->tag;
  g_source_attach(connection->source.get(), nullptr);
  const Serial serial = connection->serial;
  connections_[serial] = std::move(connection);
  // The peer may have sent requests right behind its hello.
  Ready(serial, G_IO_IN);
}

gboolean MainLane::OnReady(GSource* source, GSourceFunc, gpointer) {
  auto* watch = reinterpret_cast<LaneSource*>(source);
  watch->lane->Ready(watch->serial, g_source_query_unix_fd(source, watch->tag));
  // Close and Watch manage the source themselves.
  return G_SOURCE_CONTINUE;
}

MainLane::Connection* MainLane::Find(Serial serial) {
  const auto it = connections_.find(serial);
  return it == connections_.end() ? nullptr : it->second.get();
}

void MainLane::Ready(Serial serial, GIOCondition condition) {
  VESK_REQUIRE_MAIN_THREAD();
  // Looked up at each step: any step may close the connection.
  const bool served = Guarded(
      "Page channel connection",
      [&] {
        if ((condition & G_IO_OUT) && Find(serial) && !Find(serial)->wire->Flush()) Close(Find(serial));
        if ((condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) && Find(serial)) ReadFrom(Find(serial));
        if (Find(serial)) ServeFrames(Find(serial));
        if (Find(serial)) Watch(Find(serial));
        return true;
      },
      false);
  // Its state is unknown after a failure.
  if (!served)
    if (Connection* connection = Find(serial)) Close(connection);
}

void MainLane::Watch(Connection* connection) {
  // While a request waits for its answer, further requests stay unread.
  const unsigned wanted = (connection->awaiting_answer ? 0u : unsigned{G_IO_IN}) | G_IO_HUP | G_IO_ERR |
                          (connection->wire->pending_bytes() == 0 ? 0u : unsigned{G_IO_OUT});
  if (wanted == connection->watched) return;
  g_source_modify_unix_fd(connection->source.get(), connection->tag, static_cast<GIOCondition>(wanted));
  connection->watched = wanted;
}

void MainLane::ReadFrom(Connection* connection) {
  char buffer[16384];
  const ssize_t got = ::read(connection->wire->fd(), buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (got <= 0) {
    Close(connection);
    return;
  }
  connection->reader.Append(buffer, static_cast<size_t>(got));
}

void MainLane::ServeFrames(Connection* connection) {
  std::string payload;
  const Serial serial = connection->serial;
  while (!connection->awaiting_answer) {
    const NextRequest next = TakeRequestFrame(connection->reader, *connection->wire, &payload);
    if (next == NextRequest::kNeedMore) return;
    if (next == NextRequest::kRefused) return Close(connection);
    Dispatch(connection, payload);
    if (!Find(serial)) return;  // closed while dispatching: |connection| is gone
  }
}

void MainLane::Dispatch(Connection* connection, const std::string& payload) {
  const auto request = channel::DecodeRequest(payload);
  if (!request) {
    if (!RefuseMalformedRequest(*connection->wire)) Close(connection);
    return;
  }
  const Serial serial = connection->serial;
  connection->awaiting_answer = true;
  connection->dispatching = true;
  ServeOnMainThread(handler_, *request, [lane = weak_from_this(), serial](channel::Response response) {
    if (const std::shared_ptr<MainLane> alive = lane.lock()) alive->Answered(serial, std::move(response));
  });
  if (Connection* still = Find(serial)) still->dispatching = false;
}

void MainLane::Answered(Serial serial, channel::Response response) {
  VESK_REQUIRE_MAIN_THREAD();
  Connection* connection = Find(serial);
  if (!connection || !connection->awaiting_answer) return;  // the asker went away
  connection->awaiting_answer = false;
  if (!SendAnswer(*connection->wire, response)) {
    Close(connection);
    return;
  }
  if (connection->dispatching) return;  // answered at once: the serving loop goes on
  // An answer given later: requests that came meanwhile are served now.
  Ready(serial, static_cast<GIOCondition>(0));
}

void MainLane::Close(Connection* connection) {
  connection->source.reset();  // no longer watched before the socket closes
  connection->wire->Close();
  connections_.erase(connection->serial);
}

}  // namespace vesk
