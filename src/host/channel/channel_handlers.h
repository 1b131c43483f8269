// Answers the page channel's requests on the UI main thread: window
// operations go to the BrowserHost of the requesting page, the rest to the
// process-wide services.
#pragma once

#include "vesk/core/channel/channel_schema.h"

namespace vesk {

channel::Response HandleChannelRequest(const channel::Request& request);

}  // namespace vesk
