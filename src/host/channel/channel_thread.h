// The page channel's own thread in the UI process: it accepts connections,
// takes the handshake, reads and decodes requests and writes answers, all
// outside the GTK main loop. A request is answered right there when the
// state the main thread publishes holds its answer; every other one is
// handed to the main thread, which writes the answer on the connection's
// wire and then posts the connection's ticket to the mailbox, so reading
// it resumes. A connection takes no further request until it has been answered, so
// answers keep the order of their requests. Nothing here ever waits for a
// web process: sockets are non-blocking and answers are buffered.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vesk/core/channel/channel_schema.h"
#include "vesk/core/logging.h"

namespace vesk {

// True on the page channel's thread.
bool CurrentlyOnChannelThread();

}  // namespace vesk

// A debug check at the entry of what runs on the page channel's thread.
#define VESK_REQUIRE_CHANNEL_THREAD() \
  VESK_DCHECK_TEXT(::vesk::CurrentlyOnChannelThread(), "CurrentlyOnChannelThread()")

namespace vesk {

// A connection's socket and the answer bytes not yet written, shared by the
// channel's thread and the main thread: the main thread writes the answer
// of a request it handled itself, so the page need not wait for the
// channel's thread to wake as well. Whoever serves the connection's requests
// (the channel's thread, or the main loop once handed over) closes it; the
// last owner does when nobody did.
class ConnectionWire {
 public:
  explicit ConnectionWire(int fd) : fd_(fd) {}
  ~ConnectionWire();
  ConnectionWire(const ConnectionWire&) = delete;
  ConnectionWire& operator=(const ConnectionWire&) = delete;

  // Any thread: queues |frame| and writes what the socket takes now,
  // never waiting. False when the connection is closed or failed.
  bool Write(const std::string& frame);
  // Writes more of what waits; false when the connection failed.
  bool Flush();
  size_t pending_bytes();
  int fd() const { return fd_; }
  // The thread serving the connection.
  void Close();

 private:
  bool FlushLocked();

  std::mutex mutex_;
  const int fd_;
  bool closed_ = false;
  std::string outgoing_;
};

// Tells the channel thread which connections have been answered by the main
// thread (reading them resumes), and carries the request to stop. Shared by
// both: what comes after the thread has stopped is dropped here.
class AnswerMailbox {
 public:
  // Names the connection a request came on; connections are never reused.
  using Ticket = uint64_t;

  AnswerMailbox();
  ~AnswerMailbox();
  AnswerMailbox(const AnswerMailbox&) = delete;
  AnswerMailbox& operator=(const AnswerMailbox&) = delete;

  bool usable() const { return wake_fd_ >= 0; }
  // Readable while answered tickets wait or a stop was asked for.
  int wake_fd() const { return wake_fd_; }
  // Any thread.
  void Post(Ticket ticket);
  void RequestStop();
  bool stop_requested() const { return stop_requested_.load(); }
  // The channel thread: the tickets answered, in their order.
  std::deque<Ticket> Take();

 private:
  void Wake();

  int wake_fd_ = -1;
  std::mutex mutex_;
  std::deque<Ticket> answered_;
  std::atomic<bool> stop_requested_{false};
};

// What both ends of the UI process do with a connection's frames.
// Writes |response| on |wire|; false when the connection must be closed (it
// failed, or the peer does not read its answers, which is logged).
bool SendAnswer(ConnectionWire& wire, const channel::Response& response);
// Answers a request that does not decode with kBadRequest (logged); false
// when the connection must be closed.
bool RefuseMalformedRequest(ConnectionWire& wire);
// The next whole request a connection has delivered. kRefused: it was too
// large, the peer has been told so (logged), and the caller closes the
// connection, since the stream cannot be read past such a frame.
enum class NextRequest { kNeedMore, kFrame, kRefused };
NextRequest TakeRequestFrame(channel::FrameReader& reader, ConnectionWire& wire, std::string* payload);

class ChannelThread {
 public:
  using Ticket = AnswerMailbox::Ticket;
  // The answer of a request that needs no work of the main thread, or
  // nothing. Runs on the channel thread.
  using AnswerHere = std::function<std::optional<channel::Response>(const channel::Request&)>;
  // Hands a request to the main thread, which writes its answer on |wire|
  // and then posts |ticket| to the mailbox. Runs on the channel thread.
  using ToMain =
      std::function<void(channel::Request request, Ticket ticket, std::shared_ptr<ConnectionWire> wire)>;
  // Hands a connection whose hello named channel::kMainLane, with what was
  // read past the hello, to the main loop, which serves it from then on.
  // Runs on the channel thread.
  using ToMainLane = std::function<void(std::shared_ptr<ConnectionWire> wire, channel::FrameReader unread)>;
  struct Callbacks {
    AnswerHere answer_here;
    ToMain to_main;
    ToMainLane to_main_lane;
  };

  // Serves |listen_fd|, which stays the caller's.
  ChannelThread(int listen_fd, std::string token, std::shared_ptr<AnswerMailbox> mailbox,
                Callbacks callbacks);
  // Stops the thread, which closes every connection, and joins it.
  ~ChannelThread();
  ChannelThread(const ChannelThread&) = delete;
  ChannelThread& operator=(const ChannelThread&) = delete;

 private:
  struct Connection;

  void Run();
  int NextTimeoutMs() const;
  void ExpireHandshakes();
  void Accept();
  size_t UnauthenticatedCount() const;
  void DropOldestUnauthenticated();
  Connection* Find(Ticket ticket);
  void TakeAnswers();
  void Serve(Ticket ticket, uint32_t events);
  // Asks for what the connection waits for now: requests unless one is
  // being answered, room while answers wait to be written.
  void Watch(Connection* connection);
  void ReadFrom(Connection* connection);
  void ServeFrames(Connection* connection);
  void Dispatch(Connection* connection, const std::string& payload);
  void TakeHello(Connection* connection, const std::optional<channel::Request>& hello);
  void HandToMainLane(Connection* connection);
  void Send(Connection* connection, const channel::Response& response);
  void Flush(Connection* connection);
  void Close(Connection* connection);

  const int listen_fd_;
  const std::string token_;
  const std::shared_ptr<AnswerMailbox> mailbox_;
  const Callbacks callbacks_;
  // Channel thread only from here on.
  std::map<Ticket, std::unique_ptr<Connection>> connections_;
  Ticket next_ticket_ = 1;
  int epoll_fd_ = -1;
  std::thread thread_;
};

}  // namespace vesk
