// The UI process's end of the page channel: a Unix stream socket in the
// user's runtime directory (0700), served on the main loop. Only processes
// of our user that know the token handed to the web extension may speak.
// Answers are written without ever waiting for the web process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "vesk/core/channel/channel_schema.h"

struct _GSource;

namespace vesk {

class ChannelServer {
 public:
  // Answers a request through |answer|, at once or later; a connection
  // takes no further request until it has been answered, so answers keep
  // the order of their requests.
  using Answer = std::function<void(channel::Response)>;
  using Handler = std::function<void(const channel::Request&, Answer)>;

  static ChannelServer& Get();

  // Creates the socket; false when that fails (logged).
  bool Start(Handler handler);
  void Stop();
  bool started() const { return listen_fd_ >= 0; }
  const std::string& socket_path() const { return socket_path_; }
  const std::string& token() const { return token_; }

 private:
  struct Connection;
  ChannelServer() = default;

  static int OnAccept(int fd, unsigned condition, void* self);
  static int OnHandshakeTimeout(void* fd);
  static void UnlinkAtExit();
  size_t UnauthenticatedCount() const;
  void DropOldestUnauthenticated();
  static int OnConnectionReady(int fd, unsigned condition, void* connection);
  // The connections' main-loop source (GSourceFuncs.dispatch).
  static int DispatchWatch(_GSource* source, int (*callback)(void*), void* data);
  void ReadFrom(Connection* connection);
  void ServeFrames(Connection* connection);
  void Dispatch(Connection* connection, const std::string& payload);
  void Answered(int fd, uint64_t serial, channel::Response response);
  void Send(Connection* connection, const channel::Response& response);
  void Flush(Connection* connection);
  void Close(Connection* connection);
  void WatchConnection(Connection* connection);

  int listen_fd_ = -1;
  int owner_pid_ = 0;
  bool at_exit_registered_ = false;
  unsigned listen_source_ = 0;
  std::string socket_path_;
  std::string token_;
  Handler handler_;
  std::map<int, std::unique_ptr<Connection>> connections_;
  // Tells a connection from a later one that got the same descriptor.
  uint64_t next_serial_ = 1;
};

}  // namespace vesk
