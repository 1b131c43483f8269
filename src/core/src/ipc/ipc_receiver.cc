#include "ipc_receiver.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vesk/core/guarded.h"
#include "vesk/core/ipc/ipc_section.h"
#include "vesk/core/ipc/ipc_socket_dir.h"
#include "vesk/core/log_text.h"
#include "vesk/core/logging.h"

namespace vesk::ipc {
namespace {

gpointer SerialToPointer(uint64_t serial) {
  return reinterpret_cast<gpointer>(static_cast<uintptr_t>(serial));
}
uint64_t PointerToSerial(gpointer pointer) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
}

void DestroySource(GSource*& source) {
  if (!source) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

}  // namespace

IpcReceiver& IpcReceiver::Get() {
  static IpcReceiver* receiver = new IpcReceiver;
  return *receiver;
}

bool IpcReceiver::Start() {
  if (running()) return true;
  const std::optional<std::string> dir = EnsureIpcSocketDirectory();
  if (!dir) return false;
  const std::string path = IpcPeerSocketPath(*dir, static_cast<uint32_t>(::getpid()));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    VESK_LOG(ERROR) << "The IPC socket path " << path << " is too long";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    VESK_PLOG(ERROR) << "Cannot create the IPC socket";
    return false;
  }
  // A file of our pid can only be left over from a dead process that had the
  // same pid before us.
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    VESK_PLOG(ERROR) << "Cannot listen on the IPC socket " << path;
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  listen_fd_ = fd;
  owner_pid_ = ::getpid();
  socket_path_ = path;
  context_ = g_main_context_ref_thread_default();
  listen_source_ = g_unix_fd_source_new(fd, G_IO_IN);
  g_source_set_callback(listen_source_, G_SOURCE_FUNC(&IpcReceiver::OnListenReadyThunk), this, nullptr);
  g_source_attach(listen_source_, context_);
  if (!at_exit_registered_) {
    at_exit_registered_ = true;
    std::atexit(&IpcReceiver::UnlinkAtExit);
  }
  return true;
}

void IpcReceiver::Stop() {
  if (!running()) return;
  DestroySource(listen_source_);
  ::close(listen_fd_);
  listen_fd_ = -1;
  if (owner_pid_ == ::getpid()) ::unlink(socket_path_.c_str());
  // Open connections end without an answer; their senders see the end of the
  // stream and stop waiting. Deliveries still in progress find them closed.
  std::map<uint64_t, std::shared_ptr<Connection>> connections;
  connections.swap(connections_);
  for (auto& [serial, connection] : connections) Finish(*connection, false);
  if (context_) g_main_context_unref(context_);
  context_ = nullptr;
}

void IpcReceiver::UnlinkAtExit() {
  IpcReceiver& receiver = Get();
  // Only the process that made the socket removes it: a forked child that
  // exits normally must not take its parent's socket along.
  if (receiver.listen_fd_ >= 0 && receiver.owner_pid_ == ::getpid()) ::unlink(receiver.socket_path_.c_str());
}

void IpcReceiver::AddListener(IPC::Listener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
    // Each listener is registered once; a second registration would deliver
    // every message to it twice, so it is not added again.
    if (logging::DchecksEnabled()) VESK_LOG(ERROR) << "You Have Already Register This Listener";
    return;
  }
  listeners_.push_back(listener);
}

void IpcReceiver::RemoveListener(IPC::Listener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

gboolean IpcReceiver::OnListenReadyThunk(gint, GIOCondition, gpointer self) {
  Guarded("IPC: accepting a connection", [self] { static_cast<IpcReceiver*>(self)->AcceptAll(); });
  return G_SOURCE_CONTINUE;
}

void IpcReceiver::AcceptAll() {
  while (running()) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) VESK_PLOG(ERROR) << "IPC accept failed";
      return;
    }
    const std::optional<uid_t> uid = PeerUid(fd);
    if (!uid || *uid != ::geteuid()) {
      VESK_LOG_LIMITED(ERROR, 5) << "IPC connection of user "
                                 << (uid ? std::to_string(*uid) : std::string("?")) << " refused";
      ::close(fd);
      continue;
    }
    if (connections_.size() >= kMaxConnections) {
      VESK_LOG_LIMITED(ERROR, 5) << "IPC connection refused: " << kMaxConnections << " connections are open";
      ::close(fd);
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->serial = next_serial_++;
    connection->fd = fd;
    connection->watch = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_set_callback(connection->watch, G_SOURCE_FUNC(&IpcReceiver::OnConnectionReadyThunk),
                          SerialToPointer(connection->serial), nullptr);
    g_source_attach(connection->watch, context_);
    connection->timeout = g_timeout_source_new(kRequestTimeoutMs);
    g_source_set_callback(connection->timeout, &IpcReceiver::OnRequestTimeoutThunk,
                          SerialToPointer(connection->serial), nullptr);
    g_source_attach(connection->timeout, context_);
    connections_.emplace(connection->serial, std::move(connection));
  }
}

gboolean IpcReceiver::OnConnectionReadyThunk(gint, GIOCondition, gpointer serial) {
  Guarded("IPC: handling a request", [serial] { Get().ReadRequest(PointerToSerial(serial)); });
  // The source is destroyed explicitly once the request is complete.
  return G_SOURCE_CONTINUE;
}

gboolean IpcReceiver::OnRequestTimeoutThunk(gpointer serial) {
  IpcReceiver& receiver = Get();
  const auto found = receiver.connections_.find(PointerToSerial(serial));
  if (found != receiver.connections_.end()) {
    VESK_LOG_LIMITED(ERROR, 5) << "IPC request not complete after " << kRequestTimeoutMs
                               << " ms; connection closed";
    const std::shared_ptr<Connection> connection = found->second;
    receiver.connections_.erase(found);
    receiver.Finish(*connection, false);
  }
  return G_SOURCE_CONTINUE;  // Finish destroyed the source
}

void IpcReceiver::ReadRequest(uint64_t serial) {
  const auto found = connections_.find(serial);
  if (found == connections_.end()) return;
  const std::shared_ptr<Connection> connection = found->second;
  while (connection->received < kIpcRequestBytes) {
    const ssize_t got = ::recv(connection->fd, connection->request + connection->received,
                               kIpcRequestBytes - connection->received, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      // The peer went away before its request was complete (an enumeration
      // that chose another peer does this): nothing to answer.
      connections_.erase(found);
      Finish(*connection, false);
      return;
    }
    connection->received += static_cast<size_t>(got);
  }
  StopWatching(*connection);
  HandleRequest(connection);
}

void IpcReceiver::HandleRequest(const std::shared_ptr<Connection>& connection) {
  const IpcRequest request = DecodeIpcRequest(connection->request);
  if (request.message != kIpcRequestMessage || request.receiver_pid != static_cast<uint32_t>(owner_pid_)) {
    VESK_LOG_LIMITED(ERROR, 5) << "IPC request " << request.message << " for process " << request.receiver_pid
                               << " is not a message for this process; dropped";
    connections_.erase(connection->serial);
    Finish(*connection, false);
    return;
  }
  const std::optional<std::string> text = ReadIpcSection(IpcSectionName(request.receiver_pid, request.tick));
  const std::optional<IpcMessage> message = text ? ParseIpcMessageText(*text) : std::nullopt;
  if (!message) {
    // Dropped (logged above); the sender is released all the same.
    connections_.erase(connection->serial);
    Finish(*connection, true);
    return;
  }
  Deliver(connection, *message);
}

void IpcReceiver::Deliver(const std::shared_ptr<Connection>& connection, const IpcMessage& message) {
  VESK_LOG(INFO) << "IPC message received: id=" << message.id;
  auto delivery = std::make_shared<Delivery>();
  delivery->connection = connection;
  delivery->id = message.id;
  // Listeners registered during the delivery take part from the next message
  // on; one removed during it is not called any more.
  const std::vector<IPC::Listener*> listeners = listeners_;
  const IPC sender(static_cast<uint32_t>(owner_pid_), std::string());
  for (IPC::Listener* listener : listeners) {
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) continue;
    Guarded("IPC listener",
            [&] { listener->OnMessage(sender, message.id, message.data, IPC::Completion(delivery)); });
  }
  // When every listener finished at once, this answers now.
}

IpcReceiver::Delivery::~Delivery() {
  // A destructor: nothing may escape.
  Guarded("IPC: answering a message", [this] {
    IpcReceiver& receiver = Get();
    VESK_LOG(INFO) << "IPC message handled: id=" << id;
    // Gone when the receiver stopped in the meantime.
    if (receiver.connections_.erase(connection->serial) > 0) receiver.Finish(*connection, true);
  });
}

void IpcReceiver::StopWatching(Connection& connection) {
  DestroySource(connection.watch);
  DestroySource(connection.timeout);
}

void IpcReceiver::Finish(Connection& connection, bool answer) {
  StopWatching(connection);
  if (connection.fd < 0) return;
  if (answer) {
    // Four bytes into an otherwise unused socket buffer: never blocks. A
    // sender that gave up already is no error of ours.
    const auto bytes = EncodeIpcAnswer();
    if (::send(connection.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(bytes.size()))
      VESK_VLOG(1) << "IPC answer not delivered: " << std::strerror(errno);
  }
  ::close(connection.fd);
  connection.fd = -1;
}

}  // namespace vesk::ipc
