// The UI process's end of the page channel's operations: decodes a request
// by the operation table, finds the delegate that answers it and encodes the
// result. It knows no window system; the host supplies the delegates.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "vesk/core/channel/channel_schema.h"
#include "vesk/core/channel/operations.h"

namespace vesk::channel {

// Where the dispatcher finds the delegates. UI main thread only.
class HostEnd {
 public:
  // The delegates of the page's host window, or null when it is gone.
  virtual WindowDelegates* WindowOf(uint64_t page_id) = 0;
  virtual ServiceDelegates& Services() = 0;

 protected:
  virtual ~HostEnd() = default;
};

// Called exactly once with the answer: before Dispatch returns, or later for
// an operation answered later.
using Answer = std::function<void(Response)>;

// Never throws: a request that cannot be decoded gets kBadRequest, one for a
// window that is gone kNoWindow, an unknown operation kUnknownOp (kNoWindow
// when the page has no window either).
void Dispatch(const Request& request, HostEnd& host, Answer answer);

// On the channel's thread: the answer of an operation marked
// kFromPublishedState when |state| holds it now. Nothing for every other
// request, including one it cannot decode: Dispatch on the main thread
// answers those, errors included. Never throws.
std::optional<Response> AnswerFromPublishedState(const Request& request, PublishedStateDelegate& state);

// The same for a delegate that answers at once (tests); an answer that has
// not come when the delegate returns is reported as kBadRequest.
Response Dispatch(const Request& request, HostEnd& host);

}  // namespace vesk::channel
