#include "vesk/core/channel/dispatcher.h"

#include <memory>
#include <optional>
#include <utility>

#include "vesk/core/guarded.h"

namespace vesk::channel {
namespace {

Response Fail(Error error) {
  Response response;
  response.error = error;
  return response;
}

// Hands the answer on once; later calls (a delegate that replies twice, or
// replies and then throws) are dropped.
class OnceAnswer {
 public:
  explicit OnceAnswer(Answer answer) : answer_(std::make_shared<Answer>(std::move(answer))) {}
  void operator()(Response response) const {
    if (!*answer_) return;
    Answer answer = std::move(*answer_);
    *answer_ = nullptr;
    answer(std::move(response));
  }

 private:
  std::shared_ptr<Answer> answer_;
};

template <typename Operation>
void Serve(const Request& request, HostEnd& host, const OnceAnswer& answer) {
  typename Operation::Delegate* delegate = nullptr;
  if constexpr (Operation::kNeedsWindow) {
    delegate = host.WindowOf(request.page_id);
    if (!delegate) return answer(Fail(Error::kNoWindow));
  } else {
    delegate = &host.Services();
  }
  const auto decoded = DecodeMembers<typename Operation::Request>(request.args);
  if (!decoded) return answer(Fail(Error::kBadRequest));
  auto reply = [answer](const typename Operation::Result& result) {
    Response response;
    response.result = EncodeMembers(result);
    answer(std::move(response));
  };
  if constexpr (Operation::kAnsweredLater)
    delegate->Handle(*decoded, Reply<typename Operation::Result>(std::move(reply)));
  else
    reply(delegate->Handle(*decoded));
}

template <typename... Operations>
void DispatchAmong(const Request& request, HostEnd& host, const OnceAnswer& answer,
                   OperationList<Operations...>) {
  const bool known =
      ((request.op == Operations::kOp && (Serve<Operations>(request, host, answer), true)) || ...);
  if (known) return;
  // An unknown operation is answered like a window request: a page without
  // a window learns that first.
  answer(Fail(host.WindowOf(request.page_id) ? Error::kUnknownOp : Error::kNoWindow));
}

template <typename Operation>
std::optional<Response> AnswerPublished(const Request& request, PublishedStateDelegate& state) {
  if constexpr (Operation::kFromPublishedState) {
    const auto decoded = DecodeMembers<typename Operation::Request>(request.args);
    if (!decoded) return std::nullopt;
    const std::optional<typename Operation::Result> result = state.Published(request.page_id, *decoded);
    if (!result) return std::nullopt;
    Response response;
    response.result = EncodeMembers(*result);
    return response;
  } else {
    return std::nullopt;
  }
}

template <typename... Operations>
std::optional<Response> AnswerPublishedAmong(const Request& request, PublishedStateDelegate& state,
                                             OperationList<Operations...>) {
  std::optional<Response> answer;
  (void)((request.op == Operations::kOp && (answer = AnswerPublished<Operations>(request, state), true)) ||
         ...);
  return answer;
}

}  // namespace

std::optional<Response> AnswerFromPublishedState(const Request& request, PublishedStateDelegate& state) {
  return Guarded(
      "Page channel published answer", [&] { return AnswerPublishedAmong(request, state, AllOperations{}); },
      std::optional<Response>());
}

void Dispatch(const Request& request, HostEnd& host, Answer answer) {
  const OnceAnswer once(std::move(answer));
  const bool served = Guarded(
      "Page channel request",
      [&] {
        DispatchAmong(request, host, once, AllOperations{});
        return true;
      },
      false);
  if (!served) once(Fail(Error::kBadRequest));
}

Response Dispatch(const Request& request, HostEnd& host) {
  // Shared: an answer that comes after the return must find it alive.
  auto answered = std::make_shared<std::optional<Response>>();
  Dispatch(request, host, [answered](Response response) { *answered = std::move(response); });
  return *answered ? **answered : Fail(Error::kBadRequest);
}

}  // namespace vesk::channel
