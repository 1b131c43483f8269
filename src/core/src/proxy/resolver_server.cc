#include "vesk/core/proxy/resolver_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "vesk/core/file_util.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"
#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/proxy/resolver_wire.h"
#include "vesk/core/runtime_dir.h"
#include "vesk/core/unix_listener.h"

namespace vesk {
namespace {

// Each network process holds a few connections (one per resolving thread).
constexpr size_t kMaxConnections = 32;
// Answers waiting for a peer that does not read: beyond this it is dropped.
constexpr size_t kMaxPendingBytes = 64 * 1024;

bool PeerIsOurUser(int fd) {
  struct ucred credentials {};
  socklen_t length = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
         credentials.uid == ::getuid();
}

// Constant time, so the answer's timing tells nothing about the token.
bool SameToken(const std::string& given, const std::string& token) {
  if (given.size() != token.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < token.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ token[i]);
  return difference == 0;
}

struct Connection {
  std::string incoming;
  std::string outgoing;
  bool closing = false;  // close once the answer is out
};

// The answer to one line, and whether the connection stays open.
std::string Answer(const std::string& line, const std::string& token, bool* keep) {
  const auto request = proxy_wire::ParseRequest(line);
  if (!request || !SameToken(request->token, token)) {
    VESK_LOG_LIMITED(WARNING, 5) << "Proxy resolver: refused a request without the token or malformed";
    *keep = false;
    return "refused\n";
  }
  if (request->kind == proxy_wire::Request::Kind::kFailure) {
    VESK_LOG(WARNING) << "WinHttpGetProxyForUrl failed(" << request->code
                      << "): " << logging::EscapeLogText(request->text);
    return "ok\n";
  }
  const ProxyDecision decision = ProxyManager::Get().DecideForConnection(request->connection);
  if (decision.kind == ProxyDecision::Kind::kProxy)
    return "proxy " + proxy_wire::Printable(decision.proxy) + "\n";
  return "system\n";
}

// Sends what it can without blocking; false when the peer is gone.
bool Flush(int fd, Connection& connection) {
  while (!connection.outgoing.empty()) {
    const ssize_t sent =
        ::send(fd, connection.outgoing.data(), connection.outgoing.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    connection.outgoing.erase(0, static_cast<size_t>(sent));
  }
  return true;
}

}  // namespace

ProxyResolverServer& ProxyResolverServer::Get() {
  static ProxyResolverServer* server = new ProxyResolverServer;
  return *server;
}

bool ProxyResolverServer::Start() {
  if (listen_fd_ >= 0) return true;
  const std::string base = PrivateRuntimeDirectory();
  const std::string dir = base.empty() ? std::string() : JoinPath(base, "vesk_proxy");
  if (dir.empty() || !EnsurePrivateDirectory(dir)) {
    VESK_LOG(ERROR) << "Proxy resolver: no private runtime directory";
    return false;
  }
  token_ = NewPeerToken();
  socket_path_ = JoinPath(dir, std::to_string(::getpid()));
  listen_fd_ = ListenOnUnixSocket(socket_path_, "Proxy resolver");
  if (listen_fd_ < 0) return false;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    VESK_PLOG(ERROR) << "Proxy resolver: no wake-up descriptor";
    ::unlink(socket_path_.c_str());
    ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  owner_pid_ = ::getpid();
  if (!at_exit_registered_) {
    at_exit_registered_ = true;
    std::atexit(&ProxyResolverServer::UnlinkAtExit);
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ProxyResolverServer::Stop() {
  if (listen_fd_ < 0) return;
  const uint64_t one = 1;
  ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
  (void)ignored;
  if (thread_.joinable()) thread_.join();
  ::close(listen_fd_);
  ::close(wake_fd_);
  ::unlink(socket_path_.c_str());
  listen_fd_ = wake_fd_ = -1;
}

void ProxyResolverServer::UnlinkAtExit() {
  ProxyResolverServer& server = Get();
  if (server.listen_fd_ >= 0 && server.owner_pid_ == ::getpid()) ::unlink(server.socket_path_.c_str());
}

void ProxyResolverServer::Serve() {
  std::map<int, Connection> connections;
  while (true) {
    std::vector<pollfd> fds{{wake_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    for (const auto& [fd, connection] : connections)
      fds.push_back({fd, static_cast<short>(connection.outgoing.empty() ? POLLIN : POLLIN | POLLOUT), 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      VESK_PLOG(ERROR) << "Proxy resolver: poll failed";
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      while (true) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        if (!PeerIsOurUser(fd) || connections.size() >= kMaxConnections) {
          VESK_LOG_LIMITED(WARNING, 5) << "Proxy resolver: refused a connection (another user or too many)";
          ::close(fd);
          continue;
        }
        connections[fd];
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      Connection& connection = connections[fd];
      bool keep = !(fds[i].revents & (POLLERR | POLLNVAL));
      if (keep && (fds[i].revents & (POLLIN | POLLHUP))) {
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
          connection.incoming.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
          keep = false;
        }
      }
      size_t line_end;
      while (keep && !connection.closing &&
             (line_end = connection.incoming.find('\n')) != std::string::npos) {
        const std::string line = connection.incoming.substr(0, line_end);
        connection.incoming.erase(0, line_end + 1);
        bool stays = true;
        connection.outgoing += Answer(line, token_, &stays);
        answered_.fetch_add(1);
        connection.closing = !stays;
      }
      if (connection.incoming.size() >= proxy_wire::kMaxLineBytes) {
        connection.outgoing += "refused\n";
        connection.closing = true;
        connection.incoming.clear();
      }
      if (keep) keep = Flush(fd, connection) && connection.outgoing.size() <= kMaxPendingBytes;
      if (connection.closing && connection.outgoing.empty()) keep = false;
      if (!keep) {
        ::close(fd);
        connections.erase(fd);
      }
    }
  }
  for (const auto& [fd, connection] : connections) ::close(fd);
}

}  // namespace vesk
