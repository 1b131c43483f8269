// The web process's end of the page channel: one blocking request at a time
// to the UI process, bounded by a timeout so a host that does not answer
// turns into a script exception, never a hung page. Two connections: reads
// the channel's own thread answers from published state go on the first,
// everything else on the one the UI main loop serves itself (both kept
// open, each made at its first use).
#pragma once

#include <glib.h>

#include <optional>
#include <string>

#include "plugin_base/js_object.h"
#include "vesk/core/channel/channel_schema.h"

namespace plugin {

class ChannelClient {
 public:
  static ChannelClient& Get();

  void Configure(std::string socket_path, std::string token);
  // The answer, or a response carrying the error that prevented one.
  vesk::channel::Response Call(vesk::channel::Op op, guint64 page_id, Json::Value args);

 private:
  ChannelClient() = default;
  enum Lane { kChannelThreadLane, kMainLoopLane, kLaneCount };

  bool EnsureConnected(Lane lane);
  bool Exchange(Lane lane, const std::string& request, std::string* answer);
  void Disconnect(Lane lane);

  std::string socket_path_;
  std::string token_;
  int fds_[kLaneCount] = {-1, -1};
  bool in_flight_ = false;
};

// Calls the host for a script member: on failure fills |exception| with a
// clear message and returns nothing.
std::optional<Json::Value> CallHost(vesk::channel::Op op, guint64 page_id, Json::Value args,
                                    std::string* exception);

// One operation of the table (vesk/core/channel/operations.h), typed both
// ways. An answer that does not decode counts as a malformed one.
template <typename Operation>
std::optional<typename Operation::Result> AskHost(guint64 page_id, const typename Operation::Request& request,
                                                  std::string* exception) {
  const auto result = CallHost(Operation::kOp, page_id, vesk::channel::EncodeMembers(request), exception);
  if (!result) return std::nullopt;
  auto decoded = vesk::channel::DecodeMembers<typename Operation::Result>(*result);
  if (!decoded)
    *exception =
        std::string("host call failed: ") + vesk::channel::ErrorText(vesk::channel::Error::kBadRequest);
  return decoded;
}

// The same for a script member: a failure throws in |call|.
template <typename Operation>
std::optional<typename Operation::Result> AskHost(guint64 page_id, Call& call,
                                                  const typename Operation::Request& request = {}) {
  return AskHost<Operation>(page_id, request, call.exception_slot());
}

}  // namespace plugin
