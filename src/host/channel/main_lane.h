// The connections whose requests the UI main thread serves itself: each web
// process's second connection (its hello names channel::kMainLane), which
// carries every operation that needs the main thread. The channel's thread
// takes the handshake and hands the socket over; from then on the main loop
// watches, reads and answers it, so such a request costs no wake-up of
// another thread. Nothing here waits for a web process: the socket is
// non-blocking and what it does not take is written when it has room.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "vesk/core/channel/channel_schema.h"

namespace vesk {

class ConnectionWire;

// Answers a request once, at once or later, on the main thread.
using ChannelAnswer = std::function<void(channel::Response)>;
using ChannelHandler = std::function<void(const channel::Request&, ChannelAnswer)>;

// Runs |handler| for |request|: |answer| is called at most once (a handler
// that answers twice is cut short), and with the numbered kBadRequest when
// the handler throws before answering. Main thread.
void ServeOnMainThread(const ChannelHandler& handler, const channel::Request& request, ChannelAnswer answer);

class MainLane : public std::enable_shared_from_this<MainLane> {
 public:
  explicit MainLane(ChannelHandler handler);
  // Closes every connection.
  ~MainLane();
  MainLane(const MainLane&) = delete;
  MainLane& operator=(const MainLane&) = delete;

  // Serves |wire|'s connection from now on, starting with the requests
  // already in |unread|. Main thread.
  void Adopt(std::shared_ptr<ConnectionWire> wire, channel::FrameReader unread);
  // Closes every connection; answers still to come are dropped.
  void CloseAll();
  size_t connection_count() const { return connections_.size(); }

 private:
  struct Connection;
  using Serial = uint64_t;

  static gboolean OnReady(GSource* source, GSourceFunc, gpointer);
  Connection* Find(Serial serial);
  void Ready(Serial serial, GIOCondition condition);
  // Asks for what the connection waits for now: requests unless one is
  // being answered, room while answers wait to be written.
  void Watch(Connection* connection);
  void ReadFrom(Connection* connection);
  void ServeFrames(Connection* connection);
  void Dispatch(Connection* connection, const std::string& payload);
  void Answered(Serial serial, channel::Response response);
  void Close(Connection* connection);

  const ChannelHandler handler_;
  std::map<Serial, std::unique_ptr<Connection>> connections_;
  Serial next_serial_ = 1;
};

}  // namespace vesk
