// A peer speaking the page channel's wire form by hand, for host tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "channel/channel_server.h"
#include "host_test_util.h"

// Xlib (through the test helpers) defines Status as a macro.
#undef Status

namespace vesk::testing {

class ChannelPeer {
 public:
  ChannelPeer() {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& path = ChannelServer::Get().socket_path();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~ChannelPeer() { close(fd_); }
  ChannelPeer(const ChannelPeer&) = delete;
  ChannelPeer& operator=(const ChannelPeer&) = delete;

  bool connected() const { return connected_; }
  // Runs the main loop while the socket is full: the main loop may be what
  // reads it.
  void Send(const std::string& bytes) {
    size_t sent = 0;
    SpinUntil([&] {
      const ssize_t written =
          send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (written > 0) sent += static_cast<size_t>(written);
      return sent == bytes.size() || (written < 0 && errno != EAGAIN);
    });
    ASSERT_EQ(sent, bytes.size());
  }
  // The same without touching the main loop, for a thread other than the
  // main one.
  void SendBlocking(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // The next frame, or nothing when the server closed the connection. Runs
  // the main loop meanwhile (the main thread answers most requests).
  std::optional<channel::Response> Receive() {
    return ReceiveWith([this](char* buffer, size_t size) {
      ssize_t got = -1;
      SpinUntil([&] {
        got = recv(fd_, buffer, size, MSG_DONTWAIT);
        return got >= 0 || errno != EAGAIN;
      });
      return got;
    });
  }
  // The same without touching the main loop, for a thread other than the
  // main one; gives up after 30 s.
  std::optional<channel::Response> ReceiveBlocking() {
    timeval timeout{30, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return ReceiveWith([this](char* buffer, size_t size) { return recv(fd_, buffer, size, 0); });
  }

  // |lane|: channel::kMainLane for the connection the main loop serves.
  static std::string Hello(const std::string& token, std::optional<std::string> lane = std::nullopt) {
    channel::HelloArgs args;
    args.token = token;
    args.lane = std::move(lane);
    channel::Request hello;
    hello.op = channel::Op::kHello;
    hello.args = channel::EncodeMembers(args);
    return channel::Frame(channel::EncodeRequest(hello));
  }
  static std::string RequestFrame(channel::Op op, uint64_t page_id, Json::Value args = Json::objectValue) {
    channel::Request request;
    request.op = op;
    request.page_id = page_id;
    request.args = std::move(args);
    return channel::Frame(channel::EncodeRequest(request));
  }

 private:
  template <typename Read>
  std::optional<channel::Response> ReceiveWith(Read read) {
    std::string payload;
    char buffer[4096];
    while (reader_.Next(&payload) != channel::FrameReader::Status::kFrame) {
      const ssize_t got = read(buffer, sizeof buffer);
      if (got <= 0) return std::nullopt;
      reader_.Append(buffer, static_cast<size_t>(got));
    }
    return channel::DecodeResponse(payload);
  }

  int fd_ = -1;
  bool connected_ = false;
  channel::FrameReader reader_;  // keeps what came after a frame
};

}  // namespace vesk::testing
