#include "vesk/core/channel/dispatcher.h"

#include <exception>
#include <optional>

#include "vesk/core/logging.h"

namespace vesk::channel {
namespace {

Response Fail(Error error) {
  Response response;
  response.error = error;
  return response;
}

template <typename Operation>
Response Serve(const Request& request, HostEnd& host) {
  typename Operation::Delegate* delegate = nullptr;
  if constexpr (Operation::kNeedsWindow) {
    delegate = host.WindowOf(request.page_id);
    if (!delegate) return Fail(Error::kNoWindow);
  } else {
    delegate = &host.Services();
  }
  const auto decoded = DecodeMembers<typename Operation::Request>(request.args);
  if (!decoded) return Fail(Error::kBadRequest);
  Response response;
  response.result = EncodeMembers(delegate->Handle(*decoded));
  return response;
}

template <typename... Operations>
Response DispatchAmong(const Request& request, HostEnd& host, OperationList<Operations...>) {
  std::optional<Response> response;
  (void)((request.op == Operations::kOp && (response = Serve<Operations>(request, host), true)) || ...);
  if (response) return *response;
  // An unknown operation is answered like a window request: a page without
  // a window learns that first.
  return Fail(host.WindowOf(request.page_id) ? Error::kUnknownOp : Error::kNoWindow);
}

}  // namespace

Response Dispatch(const Request& request, HostEnd& host) {
  try {
    return DispatchAmong(request, host, AllOperations{});
  } catch (const std::exception& error) {
    VESK_LOG(ERROR) << "Page channel request failed: " << error.what();
  } catch (...) {
    VESK_LOG(ERROR) << "Page channel request failed";
  }
  return Fail(Error::kBadRequest);
}

}  // namespace vesk::channel
