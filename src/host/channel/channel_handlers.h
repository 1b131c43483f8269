// Answers the page channel's requests on the UI main thread: window
// operations go to the BrowserHost of the requesting page, the rest to the
// process-wide services.
#pragma once

#include <functional>
#include <optional>

#include "vesk/core/channel/channel_schema.h"

namespace vesk {

// |answer| runs once: at once, or later for the operations answered later.
void ServeChannelRequest(const channel::Request& request, std::function<void(channel::Response)> answer);
// For operations answered at once (tests).
channel::Response HandleChannelRequest(const channel::Request& request);

// The answers the channel's thread gives from what the windows publish
// (published_windows.h), for ChannelServer::Start. Main thread, once the
// display is open.
std::function<std::optional<channel::Response>(const channel::Request&)> PublishedStateAnswers();

}  // namespace vesk
