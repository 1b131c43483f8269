// Answers the page channel's requests on the UI main thread: window
// operations go to the BrowserHost of the requesting page, the rest to the
// process-wide services.
#pragma once

#include <functional>

#include "vesk/core/channel/channel_schema.h"

namespace vesk {

// |answer| runs once: at once, or later for the operations answered later.
void ServeChannelRequest(const channel::Request& request, std::function<void(channel::Response)> answer);
// For operations answered at once (tests).
channel::Response HandleChannelRequest(const channel::Request& request);

}  // namespace vesk
