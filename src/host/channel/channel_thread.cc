#include "channel/channel_thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iterator>

#include "vesk/core/guarded.h"
#include "vesk/core/log_text.h"

namespace vesk {
namespace {

using Clock = std::chrono::steady_clock;

thread_local bool on_channel_thread = false;

// Each web process keeps one connection; these bound what a misbehaving
// peer can make the UI process hold.
constexpr size_t kMaxConnections = 64;
// Connections that have not presented the token yet: they get a short time
// to do so, and only a few may wait at once. A new one pushes out the oldest
// waiting one, so idle connections can never keep a web process out.
constexpr size_t kMaxUnauthenticated = 8;
constexpr auto kHandshakeDeadline = std::chrono::milliseconds(3000);
constexpr size_t kMaxPendingAnswerBytes = 4 * channel::kMaxFrameBytes;

// The epoll keys of the two descriptors that are not connections (whose
// keys are their tickets, counted from 1).
constexpr uint64_t kWakeKey = 0;
constexpr uint64_t kListenKey = ~uint64_t{0};

bool PeerIsOurUser(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
         credentials.uid == ::getuid();
}

}  // namespace

bool CurrentlyOnChannelThread() { return on_channel_thread; }

AnswerMailbox::AnswerMailbox() : wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_fd_ < 0) VESK_PLOG(ERROR) << "Page channel: no wake-up descriptor";
}

AnswerMailbox::~AnswerMailbox() {
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void AnswerMailbox::Wake() {
  const uint64_t one = 1;
  // Only fails when the counter is about to overflow: it is readable then.
  (void)!::write(wake_fd_, &one, sizeof one);
}

void AnswerMailbox::Post(Ticket ticket) {
  std::lock_guard lock(mutex_);
  if (stop_requested_) return;
  answered_.push_back(ticket);
  Wake();
}

void AnswerMailbox::RequestStop() {
  std::lock_guard lock(mutex_);
  stop_requested_ = true;
  answered_.clear();
  Wake();
}

std::deque<AnswerMailbox::Ticket> AnswerMailbox::Take() {
  uint64_t count = 0;
  (void)!::read(wake_fd_, &count, sizeof count);
  std::lock_guard lock(mutex_);
  return std::exchange(answered_, {});
}

bool ConnectionWire::Write(const std::string& frame) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  outgoing_ += frame;
  return FlushLocked();
}

bool ConnectionWire::Flush() {
  std::lock_guard lock(mutex_);
  return !closed_ && FlushLocked();
}

bool ConnectionWire::FlushLocked() {
  while (!outgoing_.empty()) {
    const ssize_t written = ::send(fd_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) return true;  // the channel's thread waits for room
    if (written < 0) return false;
    outgoing_.erase(0, static_cast<size_t>(written));
  }
  return true;
}

size_t ConnectionWire::pending_bytes() {
  std::lock_guard lock(mutex_);
  return outgoing_.size();
}

ConnectionWire::~ConnectionWire() {
  if (!closed_) ::close(fd_);
}

void ConnectionWire::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  ::close(fd_);
}

bool SendAnswer(ConnectionWire& wire, const channel::Response& response) {
  if (wire.pending_bytes() > kMaxPendingAnswerBytes) {
    // A peer that sends requests but never reads the answers.
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: answers not read; connection closed";
    return false;
  }
  return wire.Write(channel::Frame(channel::EncodeResponse(response)));
}

bool RefuseMalformedRequest(ConnectionWire& wire) {
  VESK_LOG_LIMITED(WARNING, 5) << "Page channel: malformed request dropped";
  channel::Response refused;
  refused.error = channel::Error::kBadRequest;
  return SendAnswer(wire, refused);
}

NextRequest TakeRequestFrame(channel::FrameReader& reader, ConnectionWire& wire, std::string* payload) {
  const auto status = reader.Next(payload);
  if (status == channel::FrameReader::Status::kNeedMore) return NextRequest::kNeedMore;
  if (status == channel::FrameReader::Status::kFrame) return NextRequest::kFrame;
  VESK_LOG_LIMITED(ERROR, 5) << "Page channel: oversized request; connection closed";
  channel::Response too_large;
  too_large.error = channel::Error::kTooLarge;
  const std::string frame = channel::Frame(channel::EncodeResponse(too_large));
  (void)::send(wire.fd(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return NextRequest::kRefused;
}

struct ChannelThread::Connection {
  int fd = -1;  // open while the connection is known here
  std::shared_ptr<ConnectionWire> wire;
  Ticket ticket = 0;  // also the order of acceptance
  bool authenticated = false;
  bool awaiting_answer = false;
  uint32_t watched = 0;  // the epoll events asked for
  Clock::time_point handshake_deadline;
  channel::FrameReader reader;
};

ChannelThread::ChannelThread(int listen_fd, std::string token, std::shared_ptr<AnswerMailbox> mailbox,
                             Callbacks callbacks)
    : listen_fd_(listen_fd),
      token_(std::move(token)),
      mailbox_(std::move(mailbox)),
      callbacks_(std::move(callbacks)),
      thread_([this] { Run(); }) {}

ChannelThread::~ChannelThread() {
  mailbox_->RequestStop();
  if (thread_.joinable()) thread_.join();
}

void ChannelThread::Run() {
  on_channel_thread = true;
  pthread_setname_np(pthread_self(), "VeskChannel");
  VESK_REQUIRE_CHANNEL_THREAD();
  // One registration per descriptor for its life: a request costs one wait.
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event wake{EPOLLIN, {.u64 = kWakeKey}};
  epoll_event listen{EPOLLIN, {.u64 = kListenKey}};
  if (epoll_fd_ < 0 || ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, mailbox_->wake_fd(), &wake) != 0 ||
      ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listen_fd_, &listen) != 0) {
    VESK_PLOG(ERROR) << "Page channel: cannot wait for requests";
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    return;
  }
  epoll_event events[16];
  // A page that made one call often makes the next within microseconds.
  // Looking for it awake for a short, bounded while after serving spares
  // this thread being put to sleep and woken again, which costs more than
  // the whole call on a loaded or virtual machine; yielding in between lets
  // a thread that shares this CPU (the page's, say) run first.
  const auto awake_after_serving = channel::AwakeWaitForPeer();
  Clock::time_point awake_until;
  while (!mailbox_->stop_requested()) {
    const bool awake = Clock::now() < awake_until;
    const int ready = ::epoll_wait(epoll_fd_, events, std::size(events), awake ? 0 : NextTimeoutMs());
    if (mailbox_->stop_requested()) break;
    if (ready < 0 && errno != EINTR) {
      VESK_PLOG(ERROR) << "Page channel: waiting failed";
      break;
    }
    if (ready == 0 && awake) sched_yield();
    for (int i = 0; i < ready; ++i) {
      const uint64_t key = events[i].data.u64;
      if (key == kWakeKey) {
        TakeAnswers();
      } else if (key == kListenKey) {
        Accept();
      } else {
        Serve(key, events[i].events);
        awake_until = Clock::now() + awake_after_serving;
      }
    }
    ExpireHandshakes();
  }
  while (!connections_.empty()) Close(connections_.begin()->second.get());
  ::close(epoll_fd_);
}

void ChannelThread::Watch(Connection* connection) {
  // While a request waits for its answer, further requests stay unread.
  const uint32_t wanted = (connection->awaiting_answer ? 0u : uint32_t{EPOLLIN}) |
                          (connection->wire->pending_bytes() == 0 ? 0u : uint32_t{EPOLLOUT});
  if (wanted == connection->watched) return;
  epoll_event event{wanted, {.u64 = connection->ticket}};
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, connection->fd, &event) != 0) {
    VESK_PLOG(ERROR) << "Page channel: cannot watch a connection";
    Close(connection);
    return;
  }
  connection->watched = wanted;
}

int ChannelThread::NextTimeoutMs() const {
  std::optional<Clock::time_point> next;
  for (const auto& [ticket, connection] : connections_)
    if (!connection->authenticated && (!next || connection->handshake_deadline < *next))
      next = connection->handshake_deadline;
  if (!next) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, kHandshakeDeadline.count()));
}

void ChannelThread::ExpireHandshakes() {
  const auto now = Clock::now();
  std::vector<Connection*> late;
  for (const auto& [ticket, connection] : connections_)
    if (!connection->authenticated && connection->handshake_deadline <= now) late.push_back(connection.get());
  for (Connection* connection : late) {
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: no handshake within " << kHandshakeDeadline.count()
                                 << " ms; connection closed";
    Close(connection);
  }
}

void ChannelThread::Accept() {
  VESK_REQUIRE_CHANNEL_THREAD();
  Guarded("Page channel accept", [this] {
    while (true) {
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) break;
      if (!PeerIsOurUser(fd)) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: refused a peer of another user";
        ::close(fd);
        continue;
      }
      if (UnauthenticatedCount() >= kMaxUnauthenticated) DropOldestUnauthenticated();
      if (connections_.size() >= kMaxConnections) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: too many connections; one refused";
        ::close(fd);
        continue;
      }
      auto connection = std::make_unique<Connection>();
      connection->fd = fd;
      connection->wire = std::make_shared<ConnectionWire>(fd);
      connection->ticket = next_ticket_++;
      connection->handshake_deadline = Clock::now() + kHandshakeDeadline;
      connection->watched = EPOLLIN;
      epoll_event event{EPOLLIN, {.u64 = connection->ticket}};
      if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) {
        VESK_PLOG(ERROR) << "Page channel: cannot watch a connection";
        ::close(fd);
        continue;
      }
      connections_[connection->ticket] = std::move(connection);
    }
  });
}

size_t ChannelThread::UnauthenticatedCount() const {
  size_t count = 0;
  for (const auto& [ticket, connection] : connections_) count += connection->authenticated ? 0 : 1;
  return count;
}

void ChannelThread::DropOldestUnauthenticated() {
  // Tickets grow with acceptance: the first one found is the oldest.
  for (const auto& [ticket, connection] : connections_) {
    if (!connection->authenticated) {
      Close(connection.get());
      return;
    }
  }
}

ChannelThread::Connection* ChannelThread::Find(Ticket ticket) {
  const auto it = connections_.find(ticket);
  return it == connections_.end() ? nullptr : it->second.get();
}

void ChannelThread::TakeAnswers() {
  VESK_REQUIRE_CHANNEL_THREAD();
  for (const Ticket ticket : mailbox_->Take()) {
    Connection* connection = Find(ticket);
    if (!connection || !connection->awaiting_answer) continue;  // the asker went away
    const bool served = Guarded(
        "Page channel answer",
        [&] {
          // The main thread has written the answer (or what the socket
          // took of it); requests that came meanwhile are served now.
          connection->awaiting_answer = false;
          ServeFrames(connection);
          if (Connection* still = Find(ticket)) Watch(still);
          return true;
        },
        false);
    if (!served)
      if (Connection* broken = Find(ticket)) Close(broken);
  }
}

void ChannelThread::Serve(Ticket ticket, uint32_t events) {
  VESK_REQUIRE_CHANNEL_THREAD();
  const bool served = Guarded(
      "Page channel connection",
      [&] {
        if ((events & EPOLLOUT) && Find(ticket)) Flush(Find(ticket));
        if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && Find(ticket)) ReadFrom(Find(ticket));
        if (Find(ticket)) Watch(Find(ticket));
        return true;
      },
      false);
  // Its state is unknown after a failure.
  if (!served)
    if (Connection* connection = Find(ticket)) Close(connection);
}

void ChannelThread::ReadFrom(Connection* connection) {
  char buffer[16384];
  const ssize_t got = ::read(connection->fd, buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (got <= 0) {
    Close(connection);
    return;
  }
  connection->reader.Append(buffer, static_cast<size_t>(got));
  ServeFrames(connection);
}

void ChannelThread::ServeFrames(Connection* connection) {
  std::string payload;
  const Ticket ticket = connection->ticket;
  while (!connection->awaiting_answer) {
    const NextRequest next = TakeRequestFrame(connection->reader, *connection->wire, &payload);
    if (next == NextRequest::kNeedMore) return;
    if (next == NextRequest::kRefused) return Close(connection);
    Dispatch(connection, payload);
    if (!Find(ticket)) return;  // closed while dispatching: |connection| is gone
  }
}

void ChannelThread::Dispatch(Connection* connection, const std::string& payload) {
  auto request = channel::DecodeRequest(payload);
  if (!connection->authenticated) return TakeHello(connection, request);
  if (!request) {
    if (!RefuseMalformedRequest(*connection->wire)) Close(connection);
    return;
  }
  if (callbacks_.answer_here) {
    if (const std::optional<channel::Response> answer = callbacks_.answer_here(*request)) {
      Send(connection, *answer);
      return;
    }
  }
  connection->awaiting_answer = true;
  callbacks_.to_main(std::move(*request), connection->ticket, connection->wire);
}

void ChannelThread::TakeHello(Connection* connection, const std::optional<channel::Request>& hello) {
  const auto args = hello && hello->op == channel::Op::kHello
                        ? channel::DecodeMembers<channel::HelloArgs>(hello->args)
                        : std::nullopt;
  if (!args || args->token != token_) {
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: handshake refused";
    Close(connection);
    return;
  }
  connection->authenticated = true;
  const Ticket ticket = connection->ticket;
  Send(connection, channel::Response{});
  if (args->lane == channel::kMainLane && Find(ticket)) HandToMainLane(connection);
}

void ChannelThread::HandToMainLane(Connection* connection) {
  // Forgotten here without closing: the main loop owns the socket now.
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, connection->fd, nullptr);
  std::shared_ptr<ConnectionWire> wire = std::move(connection->wire);
  channel::FrameReader unread = std::move(connection->reader);
  connections_.erase(connection->ticket);
  callbacks_.to_main_lane(std::move(wire), std::move(unread));
}

void ChannelThread::Send(Connection* connection, const channel::Response& response) {
  if (!SendAnswer(*connection->wire, response)) Close(connection);
}

void ChannelThread::Flush(Connection* connection) {
  if (!connection->wire->Flush()) Close(connection);
}

void ChannelThread::Close(Connection* connection) {
  connection->wire->Close();
  connections_.erase(connection->ticket);
}

}  // namespace vesk
