// The page channel's dispatcher against a small recording delegate, without
// a display: every operation of the table is decoded, handed to the right
// delegate and answered; malformed requests are refused with their numbered
// error. Also the user messages' payloads and the extension's start data.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vesk/core/channel/dispatcher.h"
#include "vesk/core/channel/page_messages.h"

namespace vesk::channel {
namespace {

// A value of every member type that differs from its default, so a member
// that is dropped or swapped on the way shows.
struct Fill {
  void operator()(const char*, int& value) const { value = 7; }
  void operator()(const char*, uint16_t& value) const { value = 65534; }
  void operator()(const char*, bool& value) const { value = true; }
  void operator()(const char*, double& value) const { value = 0.25; }
  void operator()(const char* name, std::string& value) const { value = std::string("text of ") + name; }
  void operator()(const char*, std::optional<bool>& value) const { value = false; }
  void operator()(const char*, std::optional<std::string>& value) const { value = "kept"; }
  void operator()(const char*, WindowRect& rect) const { rect = {1, 2, 30, 40}; }
  void operator()(const char*, StringPairs& pairs) const { pairs = {{"a", "1"}, {"b", "2"}}; }
  void operator()(const char*, PositionRequest::IntValue& value) const {
    value = {PositionRequest::Type::kValid, -5};
  }
  void operator()(const char*, PositionRequest::BoolValue& value) const {
    value = {PositionRequest::Type::kWrongType, false};
  }
  void operator()(const char*, ShowCommand& value) const { value = ShowCommand::kMaximize; }
};

template <typename Struct>
Struct Filled() {
  Struct value{};
  Struct::Members(value, Fill{});
  return value;
}

// Records what reached it and answers with filled results.
class RecordingHost final : public HostEnd, public WindowDelegates, public ServiceDelegates {
 public:
  WindowDelegates* WindowOf(uint64_t page_id) override { return page_id == kPage ? this : nullptr; }
  ServiceDelegates& Services() override { return *this; }

  static constexpr uint64_t kPage = 42;
  std::vector<std::pair<Op, Json::Value>> calls;

#define RECORD(Operation)                                                        \
  op::Operation::Result Handle(const op::Operation::Request& request) override { \
    calls.emplace_back(op::Operation::kOp, EncodeMembers(request));              \
    return Filled<op::Operation::Result>();                                      \
  }
  RECORD(Exit)
  RECORD(PopUpMenu)
  RECORD(LaunchWindow)
  RECORD(EndLaunch)
  RECORD(SetWindowIcon)
  RECORD(SetWindowPosition)
  RECORD(GetWindowPosition)
  RECORD(SetWindowSizeLimit)
  RECORD(SetWindowTitle)
  RECORD(GetWindowOpacity)
  RECORD(SetWindowOpacity)
  RECORD(BringWindowToTop)
  RECORD(ShowWindow)
  RECORD(DragWindow)
  RECORD(SizeWindow)
  RECORD(GetWindowInfo)
  RECORD(IsAeroStyleEnabled)
  RECORD(NavigateExternal)
  RECORD(HasFullScreenWindow)
  RECORD(GetWorkArea)
  RECORD(GetLastInputTime)
  RECORD(SetErrorHandlerUrl)
  RECORD(SetErrorData)
  RECORD(GetErrorData)
  RECORD(ClickAt)
  RECORD(GetTrayIcon)
  RECORD(GetTrayIconState)
  RECORD(InstallTrayIcon)
  RECORD(UninstallTrayIcon)
  RECORD(SetTrayIconImage)
  RECORD(SetTrayToolTip)
  RECORD(PopBalloon)
  RECORD(SetProxyForUrl)
  RECORD(RemoveProxyForUrl)
  RECORD(GetProxyForUrl)
  RECORD(GetDefaultProxy)
  RECORD(SetDefaultProxy)
#undef RECORD

  // Answered at once, or kept for the test to answer later.
  bool answer_later = false;
  std::vector<std::function<void()>> kept_replies;
#define RECORD_LATER(Operation)                                                                     \
  void Handle(const op::Operation::Request& request, Reply<op::Operation::Result> reply) override { \
    calls.emplace_back(op::Operation::kOp, EncodeMembers(request));                                 \
    if (!answer_later) return reply(Filled<op::Operation::Result>());                               \
    kept_replies.push_back([reply] { reply(Filled<op::Operation::Result>()); });                    \
  }
  RECORD_LATER(GetCookie)
  RECORD_LATER(SetCookie)
  RECORD_LATER(RemoveCookie)
  RECORD_LATER(MoveCookie)
  RECORD_LATER(GetOriginStorage)
#undef RECORD_LATER
};

Request RequestFor(Op op, uint64_t page_id, Json::Value args) {
  Request request;
  request.op = op;
  request.page_id = page_id;
  request.args = std::move(args);
  return request;
}

// Sends the request through the wire form first, as the channel does.
Response DispatchOverWire(const Request& request, HostEnd& host) {
  const auto decoded = DecodeRequest(EncodeRequest(request));
  EXPECT_TRUE(decoded);
  const auto answer = DecodeResponse(EncodeResponse(Dispatch(*decoded, host)));
  EXPECT_TRUE(answer);
  return *answer;
}

template <typename Operation>
void CheckOperation() {
  SCOPED_TRACE(static_cast<unsigned>(Operation::kOp));
  RecordingHost host;
  const auto request = Filled<typename Operation::Request>();
  const uint64_t page = Operation::kNeedsWindow ? RecordingHost::kPage : 0;

  // Decoded, handed to the delegate with every member, answered.
  const Response response = DispatchOverWire(RequestFor(Operation::kOp, page, EncodeMembers(request)), host);
  ASSERT_EQ(response.error, Error::kOk);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].first, Operation::kOp);
  EXPECT_EQ(host.calls[0].second, EncodeMembers(request));
  EXPECT_EQ(response.result, EncodeMembers(Filled<typename Operation::Result>()));
  EXPECT_TRUE(DecodeMembers<typename Operation::Result>(response.result));

  // Arguments that are not an object: refused, the delegate not called.
  EXPECT_EQ(Dispatch(RequestFor(Operation::kOp, page, Json::Value(Json::arrayValue)), host).error,
            Error::kBadRequest);
  // Each member in turn replaced by a value of a type no member accepts.
  Json::Value wrong = EncodeMembers(request);
  for (const std::string& name : wrong.getMemberNames()) {
    Json::Value args = EncodeMembers(request);
    args[name] = Json::Value(Json::objectValue);
    args[name]["nested"] = Json::Value(Json::arrayValue);
    const Error error = Dispatch(RequestFor(Operation::kOp, page, args), host).error;
    // Members that the table reads leniently accept it, as documented there.
    if (error != Error::kOk) {
      EXPECT_EQ(error, Error::kBadRequest) << name;
    }
  }
  host.calls.clear();

  // A window operation for a page without a window.
  if (Operation::kNeedsWindow) {
    EXPECT_EQ(Dispatch(RequestFor(Operation::kOp, 7, EncodeMembers(request)), host).error, Error::kNoWindow);
    EXPECT_TRUE(host.calls.empty());
  }
}

template <typename... Operations>
void CheckAll(OperationList<Operations...>) {
  (CheckOperation<Operations>(), ...);
}

TEST(ChannelDispatchTest, EveryOperationIsDecodedAnsweredAndRefusedWhenMalformed) {
  CheckAll(AllOperations{});
}

TEST(ChannelDispatchTest, AnswersGivenLaterArriveOnceWithTheirResult) {
  RecordingHost host;
  host.answer_later = true;
  std::vector<Response> answers;
  const auto request = Filled<op::GetOriginStorage::Request>();
  Dispatch(RequestFor(Op::kBrowserGetOriginStorage, 0, EncodeMembers(request)), host,
           [&answers](Response response) { answers.push_back(std::move(response)); });
  EXPECT_TRUE(answers.empty()) << "nothing is answered before the delegate replies";
  ASSERT_EQ(host.kept_replies.size(), 1u);
  host.kept_replies[0]();
  host.kept_replies[0]();  // a second reply is dropped
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].error, Error::kOk);
  EXPECT_EQ(answers[0].result["value"], "kept");

  // The answer-at-once form reports a reply that has not come as refused,
  // and a reply after it returned reaches nothing.
  EXPECT_EQ(
      Dispatch(RequestFor(Op::kBrowserGetCookie, 0, EncodeMembers(Filled<op::GetCookie::Request>())), host)
          .error,
      Error::kBadRequest);
  ASSERT_EQ(host.kept_replies.size(), 2u);
  host.kept_replies[1]();

  // A missing key travels as an absent member.
  op::GetOriginStorage::Result missing;
  EXPECT_FALSE(EncodeMembers(missing).isMember("value"));
  EXPECT_FALSE(DecodeMembers<op::GetOriginStorage::Result>(EncodeMembers(missing))->value.has_value());
}

// Published state that holds answers for one page only, and counts reads.
class RecordingPublishedState final : public PublishedStateDelegate {
 public:
  std::vector<Op> reads;
  std::optional<op::GetWindowOpacity::Result> Published(uint64_t page_id,
                                                        const op::GetWindowOpacity::Request&) override {
    reads.push_back(Op::kWinGetOpacity);
    if (page_id != RecordingHost::kPage) return std::nullopt;
    return Filled<op::GetWindowOpacity::Result>();
  }
  std::optional<op::GetWindowPosition::Result> Published(uint64_t page_id,
                                                         const op::GetWindowPosition::Request&) override {
    reads.push_back(Op::kWinGetPosition);
    if (page_id != RecordingHost::kPage) return std::nullopt;
    return Filled<op::GetWindowPosition::Result>();
  }
};

TEST(ChannelDispatchTest, OnlyMarkedOperationsAreAnsweredFromPublishedState) {
  RecordingPublishedState state;
  size_t marked = 0;
  // Every operation of the table: the marked ones give what the delegate on
  // the main thread would give; the others are left to it, unread.
  [&]<typename... Operations>(OperationList<Operations...>) {
    (
        [&] {
          SCOPED_TRACE(static_cast<unsigned>(Operations::kOp));
          const Request request = RequestFor(Operations::kOp, RecordingHost::kPage,
                                             EncodeMembers(Filled<typename Operations::Request>()));
          const auto answer = AnswerFromPublishedState(request, state);
          EXPECT_EQ(answer.has_value(), Operations::kFromPublishedState);
          if (!answer) return;
          ++marked;
          EXPECT_EQ(answer->error, Error::kOk);
          RecordingHost host;
          EXPECT_EQ(answer->result, Dispatch(request, host).result);
        }(),
        ...);
  }(AllOperations{});
  EXPECT_EQ(marked, 2u);
  EXPECT_EQ(state.reads, (std::vector{Op::kWinGetPosition, Op::kWinGetOpacity}));

  // What the state does not hold, and what cannot be decoded, is left to
  // the main thread (which answers with the numbered error).
  state.reads.clear();
  EXPECT_FALSE(AnswerFromPublishedState(RequestFor(Op::kWinGetOpacity, 7, Json::objectValue), state));
  EXPECT_FALSE(AnswerFromPublishedState(
      RequestFor(Op::kWinGetOpacity, RecordingHost::kPage, Json::arrayValue), state));
  EXPECT_FALSE(AnswerFromPublishedState(RequestFor(static_cast<Op>(999), RecordingHost::kPage, {}), state));
  EXPECT_EQ(state.reads, (std::vector{Op::kWinGetOpacity})) << "undecodable requests are not read";
}

TEST(ChannelDispatchTest, OperationNumbersAreUnique) {
  std::map<Op, int> seen;
  [&]<typename... Operations>(OperationList<Operations...>) {
    (++seen[Operations::kOp], ...);
    EXPECT_EQ(seen.size(), sizeof...(Operations));
  }(AllOperations{});
  EXPECT_EQ(seen.count(Op::kHello), 0u);
}

TEST(ChannelDispatchTest, MissingAndMistypedMembersAreRefused) {
  RecordingHost host;
  Json::Value args = EncodeMembers(Filled<op::SetWindowTitle::Request>());
  args.removeMember("title");
  EXPECT_EQ(Dispatch(RequestFor(Op::kWinSetTitle, RecordingHost::kPage, args), host).error,
            Error::kBadRequest);
  args["title"] = 5;
  EXPECT_EQ(Dispatch(RequestFor(Op::kWinSetTitle, RecordingHost::kPage, args), host).error,
            Error::kBadRequest);
  // A show command the table does not name.
  args = Json::Value(Json::objectValue);
  args["command"] = "explode";
  EXPECT_EQ(Dispatch(RequestFor(Op::kWinShowWindow, RecordingHost::kPage, args), host).error,
            Error::kBadRequest);
  // A rectangle with a member missing.
  args = EncodeMembers(Filled<op::LaunchWindow::Request>());
  args["rect"].removeMember("bottom");
  EXPECT_EQ(Dispatch(RequestFor(Op::kWinLaunchWindow, RecordingHost::kPage, args), host).error,
            Error::kBadRequest);
  EXPECT_TRUE(host.calls.empty());
}

TEST(ChannelDispatchTest, UnknownOperationsAndLenientMembers) {
  RecordingHost host;
  EXPECT_EQ(Dispatch(RequestFor(static_cast<Op>(999), RecordingHost::kPage, {}), host).error,
            Error::kUnknownOp);
  EXPECT_EQ(Dispatch(RequestFor(static_cast<Op>(999), 0, {}), host).error, Error::kNoWindow);
  EXPECT_EQ(Dispatch(RequestFor(Op::kHello, RecordingHost::kPage, {}), host).error, Error::kUnknownOp);

  // Position members: absent, valid, or of the wrong type (kept as such).
  Json::Value args(Json::objectValue);
  args["x"] = 3;
  args["y"] = "wrong type";
  args["topmost"] = 1;
  ASSERT_EQ(Dispatch(RequestFor(Op::kWinSetPosition, RecordingHost::kPage, args), host).error, Error::kOk);
  const auto position = DecodeMembers<op::SetWindowPosition::Request>(host.calls.back().second);
  ASSERT_TRUE(position);
  EXPECT_EQ(position->position.x.type, PositionRequest::Type::kValid);
  EXPECT_EQ(position->position.x.value, 3);
  EXPECT_EQ(position->position.y.type, PositionRequest::Type::kWrongType);
  EXPECT_EQ(position->position.width.type, PositionRequest::Type::kAbsent);
  EXPECT_EQ(position->position.topmost.type, PositionRequest::Type::kWrongType);

  // Error data: unusable pairs are left out, a non-list is an empty list.
  args = Json::Value(Json::objectValue);
  args["entries"] = Json::Value(Json::arrayValue);
  args["entries"].append("not a pair");
  Json::Value pair(Json::arrayValue);
  pair.append("key");
  pair.append("value");
  args["entries"].append(pair);
  ASSERT_EQ(Dispatch(RequestFor(Op::kErrorSetData, 0, args), host).error, Error::kOk);
  const auto data = DecodeMembers<op::SetErrorData::Request>(host.calls.back().second);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->entries, (StringPairs{{"key", "value"}}));
  args["entries"] = "not an array";
  EXPECT_EQ(Dispatch(RequestFor(Op::kErrorSetData, 0, args), host).error, Error::kOk);

  // An empty optional result member is left out and reads back empty.
  op::SizeWindow::Result left_alone;
  const Json::Value encoded = EncodeMembers(left_alone);
  EXPECT_FALSE(encoded.isMember("known"));
  EXPECT_FALSE(DecodeMembers<op::SizeWindow::Result>(encoded)->known);
  // NaN is not sent, so the receiver refuses it; infinities are numbers to a
  // page and travel by name.
  EXPECT_FALSE(DecodeMembers<op::SetWindowOpacity::Request>(
      EncodeMembers(op::SetWindowOpacity::Request{std::numeric_limits<double>::quiet_NaN()})));
  for (const double infinity : {HUGE_VAL, -HUGE_VAL}) {
    const Json::Value sent = EncodeMembers(op::SetWindowOpacity::Request{infinity});
    EXPECT_TRUE(sent["opacity"].isString());
    const auto received = DecodeMembers<op::SetWindowOpacity::Request>(sent);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->opacity, infinity);
  }
  args = Json::Value(Json::objectValue);
  args["opacity"] = "infinity";
  EXPECT_FALSE(DecodeMembers<op::SetWindowOpacity::Request>(args));
}

TEST(ChannelDispatchTest, NamesOfShowCommandsAndEdges) {
  EXPECT_EQ(FromName<ShowCommand>("minimize"), ShowCommand::kMinimize);
  EXPECT_FALSE(FromName<ShowCommand>("Minimize"));
  EXPECT_EQ(FromName<WindowEdge>("bottomright"), WindowEdge::kBottomRight);
  EXPECT_FALSE(FromName<WindowEdge>(""));
}

TEST(PageMessagesTest, PayloadsRoundTripAndOtherFormsAreRefused) {
  g_autoptr(GVariant) close = g_variant_ref_sink(CloseAnswerPayload(true));
  EXPECT_EQ(ReadCloseAnswer(close), true);
  g_autoptr(GVariant) ipc = g_variant_ref_sink(InstanceMessagePayload(-3));
  EXPECT_EQ(ReadInstanceMessage(ipc), -3);
  EXPECT_FALSE(ReadCloseAnswer(ipc));
  EXPECT_FALSE(ReadInstanceMessage(close));
  EXPECT_FALSE(ReadInstanceMessage(nullptr));

  ExtensionInitData data{
      "/opt/p",
      "/tmp/p.log",
      "/run/s",
      "token",
      {"--a", "--b=c d"},
      "/opt/p/todo",
      {"vesk://vesk", "*"},
      {{"vesk://vesk", "https", "api.test", true}, {"vesk://app", "http", "b.test", false}}};
  g_autoptr(GVariant) encoded = g_variant_ref_sink(EncodeExtensionInitData(data));
  const auto decoded = DecodeExtensionInitData(encoded);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->program_dir, "/opt/p");
  EXPECT_EQ(decoded->log_path, "/tmp/p.log");
  EXPECT_EQ(decoded->channel_socket, "/run/s");
  EXPECT_EQ(decoded->channel_token, "token");
  EXPECT_EQ(decoded->switches, (std::vector<std::string>{"--a", "--b=c d"}));
  EXPECT_EQ(decoded->executable_path, "/opt/p/todo");
  EXPECT_EQ(decoded->plugin_origins, (std::vector<std::string>{"vesk://vesk", "*"}));
  ASSERT_EQ(decoded->cross_origin_entries.size(), 2u);
  EXPECT_EQ(decoded->cross_origin_entries[1].source_origin, "vesk://app");
  EXPECT_EQ(decoded->cross_origin_entries[1].target_domain, "b.test");
  EXPECT_FALSE(decoded->cross_origin_entries[1].allow_target_subdomains);
  EXPECT_FALSE(DecodeExtensionInitData(close));
}

}  // namespace
}  // namespace vesk::channel
