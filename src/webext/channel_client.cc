#include "channel_client.h"

#include <glib.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace plugin {
namespace {

using vesk::channel::Error;
using Clock = std::chrono::steady_clock;

// The socket blocks with send and receive timeouts (set at connect), so a
// call costs one send and one receive in the common case; the deadline
// bounds the whole exchange.
bool WriteAll(int fd, const std::string& data, Clock::time_point deadline) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t written = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR && Clock::now() < deadline) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Waits for an answer asleep, up to the socket's receive timeout, after
// looking for it awake for |awake| (vesk::channel::AwakeWaitForPeer says
// why).
ssize_t Receive(int fd, char* buffer, size_t size, std::chrono::microseconds awake) {
  if (awake.count() > 0) {
    const auto until = Clock::now() + awake;
    while (true) {
      const ssize_t got = ::recv(fd, buffer, size, MSG_DONTWAIT);
      if (got >= 0 || (errno != EAGAIN && errno != EINTR)) return got;
      if (Clock::now() >= until) break;
      sched_yield();
    }
  }
  return ::recv(fd, buffer, size, 0);
}

void SetTimeouts(int fd) {
  timeval timeout{};
  timeout.tv_sec = vesk::channel::kRequestTimeoutMs / 1000;
  timeout.tv_usec = (vesk::channel::kRequestTimeoutMs % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

vesk::channel::Response Failure(Error error) {
  vesk::channel::Response response;
  response.error = error;
  return response;
}

}  // namespace

ChannelClient& ChannelClient::Get() {
  static ChannelClient* client = new ChannelClient;
  return *client;
}

void ChannelClient::Configure(std::string socket_path, std::string token) {
  socket_path_ = std::move(socket_path);
  token_ = std::move(token);
}

void ChannelClient::Disconnect(Lane lane) {
  if (fds_[lane] >= 0) ::close(fds_[lane]);
  fds_[lane] = -1;
}

bool ChannelClient::Exchange(Lane lane, const std::string& request, std::string* answer) {
  const int fd = fds_[lane];
  // The channel's thread answers within microseconds. The main loop has to
  // wake first, and often waits for other processes (the cookie store):
  // looking awake there would only take a CPU from them.
  const auto awake =
      lane == kChannelThreadLane ? vesk::channel::AwakeWaitForPeer() : std::chrono::microseconds(0);
  const auto deadline = Clock::now() + std::chrono::milliseconds(vesk::channel::kRequestTimeoutMs);
  if (!WriteAll(fd, vesk::channel::Frame(request), deadline)) return false;
  vesk::channel::FrameReader reader;
  char buffer[16384];
  while (true) {
    const auto status = reader.Next(answer);
    if (status == vesk::channel::FrameReader::Status::kFrame) return true;
    if (status == vesk::channel::FrameReader::Status::kTooLarge) return false;
    if (Clock::now() >= deadline) return false;
    const ssize_t got = Receive(fd, buffer, sizeof buffer, awake);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // closed, failed, or the receive timeout passed
    reader.Append(buffer, static_cast<size_t>(got));
  }
}

bool ChannelClient::EnsureConnected(Lane lane) {
  if (fds_[lane] >= 0) return true;
  if (socket_path_.empty()) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  const int fd = fds_[lane] = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) SetTimeouts(fd);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    VESK_PLOG(ERROR) << "Page channel: cannot connect to " << socket_path_;
    Disconnect(lane);
    return false;
  }
  vesk::channel::HelloArgs args;
  args.token = token_;
  if (lane == kMainLoopLane) args.lane = vesk::channel::kMainLane;
  vesk::channel::Request hello;
  hello.op = vesk::channel::Op::kHello;
  hello.args = vesk::channel::EncodeMembers(args);
  std::string answer;
  const bool accepted = Exchange(lane, vesk::channel::EncodeRequest(hello), &answer);
  const auto response = accepted ? vesk::channel::DecodeResponse(answer) : std::nullopt;
  if (!response || response->error != Error::kOk) {
    VESK_LOG(ERROR) << "Page channel: handshake failed";
    Disconnect(lane);
    return false;
  }
  return true;
}

vesk::channel::Response ChannelClient::Call(vesk::channel::Op op, guint64 page_id, Json::Value args) {
  VESK_REQUIRE_MAIN_THREAD();
  // Only one request at a time exists on this thread; a second one here
  // would be a programming error.
  VESK_DCHECK(!in_flight_) << "nested page channel request";
  if (in_flight_) return Failure(Error::kBadRequest);
  vesk::channel::Request request;
  request.op = op;
  request.page_id = page_id;
  request.args = std::move(args);
  const std::string encoded = vesk::channel::EncodeRequest(request);
  // The host would refuse it and drop the connection; say why instead.
  if (encoded.size() > vesk::channel::kMaxFrameBytes) return Failure(Error::kTooLarge);
  const Lane lane = vesk::channel::AnsweredFromPublishedState(op) ? kChannelThreadLane : kMainLoopLane;
  if (!EnsureConnected(lane)) return Failure(Error::kNotConnected);
  in_flight_ = true;
  std::string answer;
  const bool exchanged = Exchange(lane, encoded, &answer);
  in_flight_ = false;
  if (!exchanged) {
    VESK_LOG(ERROR) << "Page channel: no answer for operation " << static_cast<unsigned>(op);
    // The stream's state is unknown now; the next call starts afresh.
    Disconnect(lane);
    return Failure(Error::kTimeout);
  }
  const auto response = vesk::channel::DecodeResponse(answer);
  if (!response) {
    Disconnect(lane);
    return Failure(Error::kBadRequest);
  }
  return *response;
}

std::optional<Json::Value> CallHost(vesk::channel::Op op, guint64 page_id, Json::Value args,
                                    std::string* exception) {
  const vesk::channel::Response response = ChannelClient::Get().Call(op, page_id, std::move(args));
  if (response.error == Error::kOk) return response.result;
  // A page whose window is gone gets undefined (or nothing done), as when a
  // window-level member finds no window; only a host that does not answer
  // properly is an error.
  if (response.error == Error::kNoWindow) return std::nullopt;
  *exception = std::string("host call failed: ") + vesk::channel::ErrorText(response.error);
  return std::nullopt;
}

}  // namespace plugin
