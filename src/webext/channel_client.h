// The web process's end of the page channel: one blocking request at a time
// to the UI process, bounded by a timeout so a host that does not answer
// turns into a script exception, never a hung page.
#pragma once

#include <glib.h>

#include <optional>
#include <string>

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
  bool EnsureConnected();
  bool Exchange(const std::string& request, std::string* answer);
  void Disconnect();

  std::string socket_path_;
  std::string token_;
  int fd_ = -1;
  bool in_flight_ = false;
};

// Calls the host for a script member: on failure fills |exception| with a
// clear message and returns nothing.
std::optional<Json::Value> CallHost(vesk::channel::Op op, guint64 page_id, Json::Value args,
                                    std::string* exception);

}  // namespace plugin
