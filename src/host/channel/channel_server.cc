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
#include <cstring>

#include "vesk/core/file_util.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"

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

// "<runtime dir>/vesk_channel", created 0700 and owned by us.
std::string ChannelDirectory() {
  const std::string dir = JoinPath(g_get_user_runtime_dir(), "vesk_channel");
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
    return std::string();
  if ((info.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return std::string();
  return dir;
}

// Each web process keeps one connection; these bound what a misbehaving
// peer can make the UI process hold.
constexpr size_t kMaxConnections = 64;
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
  uint64_t serial = 0;
  unsigned source = 0;
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
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) {
    VESK_LOG(ERROR) << "Page channel: socket path too long: " << socket_path_;
    return false;
  }
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  ::unlink(socket_path_.c_str());  // a leftover of an earlier process with our pid
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 16) != 0) {
    VESK_PLOG(ERROR) << "Page channel: cannot listen on " << socket_path_;
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  token_ = NewToken();
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

int ChannelServer::OnAccept(int, unsigned, void* self) {
  auto* server = static_cast<ChannelServer*>(self);
  try {
    while (true) {
      const int fd = ::accept4(server->listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) break;
      if (!PeerIsOurUser(fd)) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: refused a peer of another user";
        ::close(fd);
        continue;
      }
      if (server->connections_.size() >= kMaxConnections) {
        VESK_LOG_LIMITED(WARNING, 5) << "Page channel: too many connections; one refused";
        ::close(fd);
        continue;
      }
      auto connection = std::make_unique<Connection>();
      connection->fd = fd;
      connection->serial = server->next_serial_++;
      Connection* raw = connection.get();
      server->connections_[fd] = std::move(connection);
      server->WatchConnection(raw);
    }
  } catch (...) {
    VESK_LOG(ERROR) << "Page channel: accept failed";
  }
  return G_SOURCE_CONTINUE;
}

void ChannelServer::WatchConnection(Connection* connection) {
  if (connection->source) g_source_remove(connection->source);
  // While a request waits for its answer, further requests stay unread.
  const GIOCondition condition =
      static_cast<GIOCondition>((connection->awaiting_answer ? 0 : G_IO_IN) | G_IO_HUP | G_IO_ERR |
                                (connection->want_write ? G_IO_OUT : 0));
  connection->source = g_unix_fd_add(connection->fd, condition,
                                     reinterpret_cast<GUnixFDSourceFunc>(OnConnectionReady), connection);
}

int ChannelServer::OnConnectionReady(int fd, unsigned condition, void*) {
  ChannelServer& server = Get();
  // Look the connection up by descriptor at each step: any step may close it.
  auto alive = [&server, fd]() -> Connection* {
    const auto it = server.connections_.find(fd);
    return it == server.connections_.end() ? nullptr : it->second.get();
  };
  try {
    if ((condition & G_IO_OUT) && alive()) server.Flush(alive());
    if ((condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) && alive()) server.ReadFrom(alive());
  } catch (...) {
    VESK_LOG(ERROR) << "Page channel: connection failed";
    if (Connection* connection = alive()) server.Close(connection);
  }
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
      VESK_LOG_LIMITED(ERROR, 5) << "Page channel: oversized request; connection closed";
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
    Send(connection, channel::Response{});
    return;
  }
  channel::Response response;
  if (!request) {
    VESK_LOG_LIMITED(WARNING, 5) << "Page channel: malformed request dropped";
    response.error = channel::Error::kBadRequest;
  } else {
    connection->awaiting_answer = true;
    WatchConnection(connection);
    const int fd = connection->fd;
    const uint64_t serial = connection->serial;
    connection->dispatching = true;
    handler_(*request,
             [this, fd, serial](channel::Response answer) { Answered(fd, serial, std::move(answer)); });
    if (connections_.count(fd)) connection->dispatching = false;
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
  if (!connections_.count(fd)) return;
  WatchConnection(connection);
  // An answer given later: requests that came meanwhile are served now; an
  // answer given at once returns to the serving loop.
  if (!connection->dispatching) ServeFrames(connection);
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
  if (connection->source) g_source_remove(connection->source);
  ::close(fd);
  connections_.erase(fd);
}

}  // namespace vesk
