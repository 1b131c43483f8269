// The private channel between the web extension (pages' script objects) and
// the UI process. A page's call that needs a window or a host service is one
// request; the web process waits for the answer, the UI process never waits.
//
// Wire form: frames of a 4-byte little-endian length followed by that many
// bytes of compact JSON.
//   request:  {"v":1,"op":<ChannelOp>,"page":<page id>,"args":{...}}
//   response: {"v":1,"error":<ChannelError>,"result":{...}}
// The first request of a connection is kHello (HelloArgs below); anything
// else first closes the connection.
#pragma once

#include <json/json.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/channel/operations.h"

namespace vesk::channel {

inline constexpr int kVersion = 1;
// No request or answer of this channel comes near this size.
inline constexpr uint32_t kMaxFrameBytes = 1 << 20;
// How long a page waits for the host before its call throws.
inline constexpr int kRequestTimeoutMs = 15000;

// How long an end that has just sent looks for the other end's next frame
// awake (yielding the CPU meanwhile) before it sleeps. Waking a sleeping
// thread on another CPU costs more than a whole call on a loaded or
// virtual machine, so a short look pays while both ends run at once. A
// process allowed on one CPU only gets zero: there the other end runs only
// when this one stops, and looking costs calls for nothing.
std::chrono::microseconds AwakeWaitForPeer();

enum class Error : uint32_t {
  kOk = 0,
  kBadRequest = 1,  // malformed frame, missing or mistyped member
  kUnknownOp = 2,
  kNoWindow = 3,  // the page's window is gone
  kVersionMismatch = 4,
  kTooLarge = 5,
  kTimeout = 6,       // the host did not answer in time (web side)
  kNotConnected = 7,  // no channel (web side)
  kRefused = 8,       // handshake failed
};

const char* ErrorText(Error error);

struct Request {
  Op op = Op::kHello;
  uint64_t page_id = 0;
  Json::Value args{Json::objectValue};
};

struct Response {
  Error error = Error::kOk;
  Json::Value result{Json::objectValue};
};

// A web process keeps two connections. On the first, the channel's own
// thread answers reads of state the main thread publishes
// (AnsweredFromPublishedState) and hands anything else to the main loop;
// the second's hello names kMainLane, and the main loop serves its requests
// itself, so they cost no hop between threads of the UI process.
inline constexpr char kMainLane[] = "main";

// kHello's arguments: the token the UI process gave the extension, and
// which connection this is (none: the first).
struct HelloArgs {
  std::string token;
  std::optional<std::string> lane;
  static void Members(auto& self, auto&& member) {
    member("token", self.token);
    member("lane", self.lane);
  }
};

std::string EncodeRequest(const Request& request);
std::string EncodeResponse(const Response& response);
// Nothing for text that is not a well-formed message of this version.
std::optional<Request> DecodeRequest(std::string_view json);
std::optional<Response> DecodeResponse(std::string_view json);

// Adds the length prefix.
std::string Frame(std::string_view payload);

// Collects bytes from a stream and hands out whole frames.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kTooLarge };
  void Append(const char* data, size_t size) { buffer_.append(data, size); }
  // kFrame fills |payload|. kTooLarge: the stream is unusable from here on.
  Status Next(std::string* payload);

 private:
  std::string buffer_;
};

}  // namespace vesk::channel
