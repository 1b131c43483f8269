#include "vesk/core/ipc/ipc.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "ipc_receiver.h"
#include "vesk/core/ipc/ipc_section.h"
#include "vesk/core/ipc/ipc_socket_dir.h"
#include "vesk/core/ipc/ipc_wire.h"
#include "vesk/core/logging.h"
#include "vesk/core/tick.h"

namespace vesk {

// A socket connected while enumerating; the first Send takes it over.
struct IPC::Connection {
  int fd = -1;
  ~Connection() {
    if (fd >= 0) ::close(fd);
  }
  int Take() { return std::exchange(fd, -1); }
};

namespace {

// A receiver whose backlog is full makes connect wait; this bounds it.
constexpr int kConnectTimeoutMs = 5000;
// Section names tried, one tick apart, before a send gives up.
constexpr int kMaxSectionNameAttempts = 16;

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Connects to the receiver socket at |path|. -1 with errno set on failure.
int ConnectToReceiver(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval bound{kConnectTimeoutMs / 1000, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const unsigned char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

enum class AnswerResult { kAnswered, kClosed, kTimedOut };

AnswerResult WaitForAnswer(int fd, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  unsigned char answer[ipc::kIpcAnswerBytes];
  size_t received = 0;
  while (received < sizeof answer) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return AnswerResult::kTimedOut;
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), INT32_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return AnswerResult::kClosed;
    if (ready == 0) continue;  // the deadline check above ends the wait
    const ssize_t got = ::recv(fd, answer + received, sizeof answer - received, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return AnswerResult::kClosed;
    received += static_cast<size_t>(got);
  }
  // The answer's value carries no meaning beyond "handled".
  return AnswerResult::kAnswered;
}

}  // namespace

IPC::IPC(uint32_t remote_process_id, std::string remote_receiver)
    : remote_process_id_(remote_process_id), remote_receiver_(std::move(remote_receiver)) {}

IPC::~IPC() = default;

bool IPC::Send(int32_t id, const std::string& data, std::chrono::milliseconds answer_timeout) const {
  return SendForOutcome(id, data, answer_timeout) == SendOutcome::kAnswered;
}

IPC::SendOutcome IPC::SendForOutcome(int32_t id, const std::string& data,
                                     std::chrono::milliseconds answer_timeout) const {
  const int taken = connection_ ? connection_->Take() : -1;
  ScopedFd socket(taken >= 0 ? taken : ConnectToReceiver(remote_receiver_));
  if (socket.get() < 0) {
    VESK_VLOG(1) << "IPC peer " << remote_process_id_ << " is gone: " << std::strerror(errno);
    return SendOutcome::kUnreachable;
  }
  const std::string text = ipc::SerializeIpcMessage(IpcMessage{id, data});
  if (text.size() + 1 > ipc::kMaxIpcSectionBytes) {
    VESK_LOG(ERROR) << "IPC message of " << text.size() + 1 << " bytes is larger than the limit of "
                    << ipc::kMaxIpcSectionBytes << "; not sent";
    return SendOutcome::kNotSent;
  }
  // Two senders in the same millisecond would pick the same name; the later
  // one moves on to the next tick rather than failing (and never reuses the
  // other's section). The receiver reads whatever tick the request names.
  uint32_t tick = TickCount32();
  ipc::IpcSendSection section;
  for (int attempt = 1;; ++attempt, ++tick) {
    bool name_taken = false;
    const bool last = attempt == kMaxSectionNameAttempts;
    if (section.Create(ipc::IpcSectionName(remote_process_id_, tick), text, last ? nullptr : &name_taken))
      break;
    if (!name_taken) return SendOutcome::kNotSent;
  }
  const auto request =
      ipc::EncodeIpcRequest(ipc::IpcRequest{ipc::kIpcRequestMessage, remote_process_id_, tick});
  if (!SendAll(socket.get(), request.data(), request.size())) {
    VESK_VLOG(1) << "IPC peer " << remote_process_id_ << " is gone: " << std::strerror(errno);
    return SendOutcome::kClosed;
  }
  switch (WaitForAnswer(socket.get(), answer_timeout)) {
    case AnswerResult::kAnswered:
      return SendOutcome::kAnswered;
    case AnswerResult::kClosed:
      VESK_LOG(WARNING) << "IPC peer " << remote_process_id_ << " closed the connection without an answer";
      return SendOutcome::kClosed;
    case AnswerResult::kTimedOut:
      VESK_LOG(ERROR) << "IPC peer " << remote_process_id_ << " did not answer within "
                      << answer_timeout.count() << " ms; giving up";
      return SendOutcome::kTimedOut;
  }
  return SendOutcome::kClosed;
}

std::optional<IPC> IPC::ConnectToProcess(uint32_t pid) {
  const std::optional<std::string> dir = ipc::EnsureIpcSocketDirectory();
  if (!dir) return std::nullopt;
  const std::string path = ipc::IpcPeerSocketPath(*dir, pid);
  const int fd = ConnectToReceiver(path);
  if (fd < 0) {
    VESK_VLOG(1) << "IPC receiver of process " << pid << " not reachable: " << std::strerror(errno);
    return std::nullopt;
  }
  const std::optional<uid_t> uid = ipc::PeerUid(fd);
  const std::optional<pid_t> peer = ipc::PeerPid(fd);
  if (!uid || *uid != ::geteuid() || !peer || static_cast<uint32_t>(*peer) != pid) {
    VESK_LOG(ERROR) << "IPC socket " << path << " is served by process "
                    << (peer ? std::to_string(*peer) : std::string("?")) << " of user "
                    << (uid ? std::to_string(*uid) : std::string("?")) << ", not by process " << pid
                    << "; not used";
    ::close(fd);
    return std::nullopt;
  }
  IPC receiver(pid, path);
  receiver.connection_ = std::make_shared<Connection>();
  receiver.connection_->fd = fd;
  return receiver;
}

bool IPC::EnumerateRemotes(const std::function<bool(const IPC&)>& callback) {
  int last_error = ENOENT;
  const std::optional<std::string> dir = ipc::EnsureIpcSocketDirectory();
  if (dir) {
    std::vector<uint32_t> pids;
    if (DIR* listing = ::opendir(dir->c_str())) {
      const auto own_pid = static_cast<uint32_t>(::getpid());
      while (const dirent* entry = ::readdir(listing)) {
        const std::optional<uint32_t> pid = ipc::ParseIpcSocketName(entry->d_name);
        if (pid && *pid != own_pid) pids.push_back(*pid);
      }
      ::closedir(listing);
    } else {
      last_error = errno;
    }
    std::sort(pids.begin(), pids.end());
    for (const uint32_t pid : pids) {
      const std::string path = ipc::IpcPeerSocketPath(*dir, pid);
      struct stat before {};
      if (::lstat(path.c_str(), &before) != 0 || !S_ISSOCK(before.st_mode)) continue;
      const int fd = ConnectToReceiver(path);
      if (fd < 0) {
        last_error = errno;
        struct stat now {};
        // Nobody listens: its process ended without removing it. Removed
        // unless a new process has put its own socket there meanwhile.
        if (last_error == ECONNREFUSED && ::lstat(path.c_str(), &now) == 0 && now.st_ino == before.st_ino &&
            now.st_dev == before.st_dev) {
          ::unlink(path.c_str());
          VESK_VLOG(1) << "Removed the stale IPC socket " << path;
        }
        continue;
      }
      const std::optional<uid_t> uid = ipc::PeerUid(fd);
      if (!uid || *uid != ::geteuid()) {
        VESK_LOG(ERROR) << "IPC socket " << path << " is served by user "
                        << (uid ? std::to_string(*uid) : std::string("?")) << "; skipped";
        ::close(fd);
        last_error = EPERM;
        continue;
      }
      IPC peer(pid, path);
      peer.connection_ = std::make_shared<Connection>();
      peer.connection_->fd = fd;
      if (callback(peer)) return true;
    }
  }
  errno = last_error;
  VESK_PLOG(ERROR) << "IPC EnumWindows Failed";
  return true;
}

bool IPC::CreateReceiver() { return ipc::IpcReceiver::Get().Start(); }

void IPC::AddListener(Listener* listener) {
  ipc::IpcReceiver& receiver = ipc::IpcReceiver::Get();
  receiver.Start();
  receiver.AddListener(listener);
}

void IPC::RemoveListener(Listener* listener) { ipc::IpcReceiver::Get().RemoveListener(listener); }

void IPC::Shutdown() { ipc::IpcReceiver::Get().Stop(); }

}  // namespace vesk
