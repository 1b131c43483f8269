// The UI process's end of the page channel: a Unix stream socket in the
// user's runtime directory (0700). Only processes of our user that know the
// token handed to the web extension may speak. A thread of its own
// (channel_thread.h) accepts connections, takes their handshake and answers
// reads of published state; each web process's connection for everything
// else is handed to the main loop (main_lane.h). Answers are written without
// ever waiting for the web process, and the main thread never waits for the
// channel's thread except to end it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channel/main_lane.h"
#include "vesk/core/channel/channel_schema.h"

namespace vesk {

class AnswerMailbox;
class ChannelThread;
class ConnectionWire;

class ChannelServer {
 public:
  // Answers a request through |answer|, at once or later; a connection
  // takes no further request until it has been answered, so answers keep
  // the order of their requests. Runs on the main thread, as does |answer|.
  using Answer = ChannelAnswer;
  using Handler = ChannelHandler;
  // The answer of a request that the state the main thread published holds
  // now, or nothing to hand the request to the Handler. Runs on the
  // channel's thread; must only read.
  using PublishedAnswer = std::function<std::optional<channel::Response>(const channel::Request&)>;

  static ChannelServer& Get();

  // Creates the socket and starts the channel's thread; false when that
  // fails (logged). Main thread.
  bool Start(Handler handler, PublishedAnswer published = nullptr);
  // Closes every connection and ends the thread; answers still to come are
  // dropped. Main thread.
  void Stop();
  bool started() const { return listen_fd_ >= 0; }
  const std::string& socket_path() const { return socket_path_; }
  // Made once per process: a restarted channel accepts the extension's.
  const std::string& token() const { return token_; }

 private:
  struct Session;
  ChannelServer() = default;

  static void UnlinkAtExit();
  // Hands a request from the channel's thread to the main loop.
  static void PostToMain(std::shared_ptr<Session> session, channel::Request request, uint64_t ticket,
                         std::shared_ptr<ConnectionWire> wire);
  // Hands a connection from the channel's thread to the main loop's lane.
  static void HandToMainLane(std::shared_ptr<Session> session, std::shared_ptr<ConnectionWire> wire,
                             channel::FrameReader unread);

  int listen_fd_ = -1;
  int owner_pid_ = 0;
  bool at_exit_registered_ = false;
  std::string socket_path_;
  std::string token_;
  std::shared_ptr<Session> session_;
  std::unique_ptr<ChannelThread> thread_;
};

}  // namespace vesk
