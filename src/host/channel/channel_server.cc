#include "channel/channel_server.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"
#include "vesk/core/runtime_dir.h"
#include "vesk/core/unix_listener.h"

namespace vesk {
namespace {

std::string NewToken() {
  unsigned char bytes[16] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // getrandom only fails this early on broken systems; a GLib random
    // token still keeps out processes that merely find the socket.
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(g_random_int_range(0, 256));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

// "<private runtime dir>/vesk_channel", created 0700 and owned by us; the
// same directory as the instance lock's, also without $XDG_RUNTIME_DIR.
std::string ChannelDirectory() {
  const std::string base = PrivateRuntimeDirectory();
  if (base.empty()) return std::string();
  const std::string dir = JoinPath(base, "vesk_channel");
  return EnsurePrivateDirectory(dir) ? dir : std::string();
}

// Each web process keeps one connection; these bound what a misbehaving
// peer can make the UI process hold.
constexpr size_t kMaxConnections = 64;
// Connections that have not presented the token yet: they get a short time
// to do so, and only a few may wait at once. A new one pushes out the oldest
// waiting one, so idle connections can never keep a web process out.
constexpr size_t kMaxUnauthenticated = 8;
constexpr unsigned kHandshakeDeadlineMs = 3000;
constexpr size_t kMaxPendingAnswerBytes = 4 * channel::kMaxFrameBytes;

bool PeerIsOurUser(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
         credentials.uid == ::getuid();
}

}  // namespace

struct ChannelServer::Connection {
  int fd = -1;
  uint64_t serial = 0;  // order of acceptance; tells a new connection from an old one on the same descriptor
  // One watch for the connection's life; requests only change what it
  // waits for.
  GSource* source = nullptr;
  gpointer watch_tag = nullptr;
  unsigned watched = 0;  // the GIOCondition the watch waits for
  unsigned handshake_timeout = 0;
  bool authenticated = false;
  bool want_write = false;
  bool awaiting_answer = false;
  bool dispatching = false;  // inside the handler: an answer at once needs no restart
  channel::FrameReader reader;
  std::string outgoing;
};

ChannelServer& ChannelServer::Get() {
  static ChannelServer* server = new ChannelServer;
  return *server;
}

bool ChannelServer::Start(Handler handler) {
  if (listen_fd_ >= 0) return true;
  const std::string dir = ChannelDirectory();
  if (dir.empty()) {
    VESK_LOG(ERROR) << "Page channel: no private runtime directory";
    return false;
  }
  socket_path_ = JoinPath(dir, std::to_string(::getpid()));
  listen_fd_ = ListenOnUnixSocket(socket_path_, "Page channel");
  if (listen_fd_ < 0) return false;
  token_ = NewToken();
  owner_pid_ = ::getpid();
  if (!at_exit_registered_) {
    // A start that ends before the main loop never reaches Stop.
    at_exit_registered_ = true;
    std::atexit(&ChannelServer::UnlinkAtExit);
  }
  handler_ = std::move(handler);
  listen_source_ = g_unix_fd_add(listen_fd_, G_IO_IN, reinterpret_cast<GUnixFDSourceFunc>(OnAccept), this);
  return true;
}

void ChannelServer::Stop() {
  while (!connections_.empty()) Close(connections_.begin()->second.get());
  if (listen_source_) g_source_remove(listen_source_);
  listen_source_ = 0;
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    ::unlink(socket_path_.c_str());
  }
  listen_fd_ = -1;
}

void ChannelServer::UnlinkAtExit() {
  ChannelServer& server = Get();
  // Only the process that made the socket removes it (not a forked child).
  if (server.listen_fd_ >= 0 && server.owner_pid_ == ::getpid()) ::unlink(server.socket_path_.c_str());
}

size_t ChannelServer::UnauthenticatedCount() const {
  size_t count = 0;
  for (const auto& [fd, connection] : connections_) count += connection->authenticated ? 0 : 1;
  return count;
}

void ChannelServer::DropOldestUnauthenticated() {
  Connection* oldest = nullptr;
  for (const auto& [fd, connection] : connections_)
    if (!connection->authenticated && (!oldest || connection->serial < oldest->serial))
      oldest = connection.get();
  if (oldest) Close(oldest);
}

int ChannelServer::OnHandshakeTimeout(void* fd_pointer) {
  Guarded("Page channel handshake deadline", [fd_pointer] {
    ChannelServer& server = Get();
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(fd_pointer));
    const auto it = server.connections_.find(fd);
    if (it != server.connections_.end() && !it->second->authenticated) {
      VESK_LOG_LIMITED(WARNING, 5) << "Page channel: no handshake within " << kHandshakeDeadlineMs
                                   << " ms; connection closed";
      it->second->handshake_timeout = 0;  // this source ends with the return below
      server.Close(it->second.get());
    }
  });
  return G_SOURCE_REMOVE;
}

int ChannelServer::OnAccept(int, unsigned, void* self) {
  auto* server = static_cast<ChannelServer*>(self);
  Guarded("Page channel accept", [server] {
    while (true) {
      const int fd = ::accept4(server->listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) break;
      if (!PeerIsOurUser(fd)) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: refused a peer of another user";
        ::close(fd);
        continue;
      }
      if (server->UnauthenticatedCount() >= kMaxUnauthenticated) server->DropOldestUnauthenticated();
      if (server->connections_.size() >= kMaxConnections) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: too many connections; one refused";
        ::close(fd);
        continue;
      }
      auto connection = std::make_unique<Connection>();
      connection->fd = fd;
      connection->serial = server->next_serial_++;
      connection->handshake_timeout =
          g_timeout_add(kHandshakeDeadlineMs, reinterpret_cast<GSourceFunc>(OnHandshakeTimeout),
                        reinterpret_cast<void*>(intptr_t{fd}));
      Connection* raw = connection.get();
      server->connections_[fd] = std::move(connection);
      server->WatchConnection(raw);
    }
  });
  return G_SOURCE_CONTINUE;
}

namespace {

// A main-loop source for one connection's descriptor, whose condition can
// change without making a new source.
struct ConnectionSource {
  GSource base;
  int fd;
  gpointer tag;
};

}  // namespace

int ChannelServer::DispatchWatch(GSource* source, GSourceFunc, gpointer) {
  auto* watch = reinterpret_cast<ConnectionSource*>(source);
  return OnConnectionReady(watch->fd, g_source_query_unix_fd(source, watch->tag), nullptr);
}

void ChannelServer::WatchConnection(Connection* connection) {
  // While a request waits for its answer, further requests stay unread.
  const unsigned condition = (connection->awaiting_answer ? 0 : G_IO_IN) | G_IO_HUP | G_IO_ERR |
                             (connection->want_write ? G_IO_OUT : 0);
  if (connection->source) {
    if (condition != connection->watched)
      g_source_modify_unix_fd(connection->source, connection->watch_tag,
                              static_cast<GIOCondition>(condition));
  } else {
    static GSourceFuncs functions = {nullptr, nullptr, &ChannelServer::DispatchWatch,
                                     nullptr, nullptr, nullptr};
    GSource* source = g_source_new(&functions, sizeof(ConnectionSource));
    auto* watch = reinterpret_cast<ConnectionSource*>(source);
    watch->fd = connection->fd;
    watch->tag = g_source_add_unix_fd(source, connection->fd, static_cast<GIOCondition>(condition));
    g_source_attach(source, nullptr);
    connection->source = source;
    connection->watch_tag = watch->tag;
  }
  connection->watched = condition;
}

int ChannelServer::OnConnectionReady(int fd, unsigned condition, void*) {
  ChannelServer& server = Get();
  // Look the connection up by descriptor at each step: any step may close it.
  auto alive = [&server, fd]() -> Connection* {
    const auto it = server.connections_.find(fd);
    return it == server.connections_.end() ? nullptr : it->second.get();
  };
  const bool served = Guarded(
      "Page channel connection",
      [&] {
        if ((condition & G_IO_OUT) && alive()) server.Flush(alive());
        if ((condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) && alive()) server.ReadFrom(alive());
        return true;
      },
      false);
  // Its state is unknown after a failure.
  if (!served)
    if (Connection* connection = alive()) server.Close(connection);
  // Close and WatchConnection manage the sources themselves.
  return G_SOURCE_CONTINUE;
}

void ChannelServer::ReadFrom(Connection* connection) {
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

void ChannelServer::ServeFrames(Connection* connection) {
  std::string payload;
  while (!connection->awaiting_answer) {
    const auto status = connection->reader.Next(&payload);
    if (status == channel::FrameReader::Status::kNeedMore) return;
    if (status == channel::FrameReader::Status::kTooLarge) {
      // Said before closing, so the page learns why (the stream cannot be
      // read past the frame).
      VESK_LOG_LIMITED(ERROR, 5) << "Page channel: oversized request; connection closed";
      channel::Response too_large;
      too_large.error = channel::Error::kTooLarge;
      const std::string frame = channel::Frame(channel::EncodeResponse(too_large));
      (void)::send(connection->fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      Close(connection);
      return;
    }
    const int fd = connection->fd;
    Dispatch(connection, payload);
    if (!connections_.count(fd)) return;  // closed while dispatching: |connection| is gone
  }
}

void ChannelServer::Dispatch(Connection* connection, const std::string& payload) {
  const auto request = channel::DecodeRequest(payload);
  if (!connection->authenticated) {
    if (!request || request->op != channel::Op::kHello || !request->args["token"].isString() ||
        request->args["token"].asString() != token_) {
      VESK_LOG_LIMITED(WARNING, 5) << "Page channel: handshake refused";
      Close(connection);
      return;
    }
    connection->authenticated = true;
    if (connection->handshake_timeout) g_source_remove(connection->handshake_timeout);
    connection->handshake_timeout = 0;
    Send(connection, channel::Response{});
    return;
  }
  channel::Response response;
  if (!request) {
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: malformed request dropped";
    response.error = channel::Error::kBadRequest;
  } else {
    connection->awaiting_answer = true;
    const int fd = connection->fd;
    const uint64_t serial = connection->serial;
    connection->dispatching = true;
    handler_(*request,
             [this, fd, serial](channel::Response answer) { Answered(fd, serial, std::move(answer)); });
    if (!connections_.count(fd)) return;
    connection->dispatching = false;
    // Most answers come at once; only a request answered later stops the
    // reading until then.
    if (connection->awaiting_answer) WatchConnection(connection);
    return;
  }
  Send(connection, response);
}

void ChannelServer::Answered(int fd, uint64_t serial, channel::Response response) {
  const auto it = connections_.find(fd);
  if (it == connections_.end() || it->second->serial != serial) return;  // the asker went away
  Connection* connection = it->second.get();
  connection->awaiting_answer = false;
  Send(connection, response);
  if (!connections_.count(fd) || connection->dispatching) return;  // at once: back to the serving loop
  // An answer given later: reading resumes, and requests that came
  // meanwhile are served now.
  WatchConnection(connection);
  ServeFrames(connection);
}

void ChannelServer::Send(Connection* connection, const channel::Response& response) {
  if (connection->outgoing.size() > kMaxPendingAnswerBytes) {
    // A peer that sends requests but never reads the answers.
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: answers not read; connection closed";
    Close(connection);
    return;
  }
  connection->outgoing += channel::Frame(channel::EncodeResponse(response));
  Flush(connection);
}

void ChannelServer::Flush(Connection* connection) {
  while (!connection->outgoing.empty()) {
    const ssize_t written = ::send(connection->fd, connection->outgoing.data(), connection->outgoing.size(),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) break;
    if (written < 0) {
      Close(connection);
      return;
    }
    connection->outgoing.erase(0, static_cast<size_t>(written));
  }
  const bool want_write = !connection->outgoing.empty();
  if (want_write != connection->want_write) {
    connection->want_write = want_write;
    WatchConnection(connection);
  }
}

void ChannelServer::Close(Connection* connection) {
  const int fd = connection->fd;
  if (connection->source) {
    g_source_destroy(connection->source);
    g_source_unref(connection->source);
  }
  if (connection->handshake_timeout) g_source_remove(connection->handshake_timeout);
  ::close(fd);
  connections_.erase(fd);
}

}  // namespace vesk
