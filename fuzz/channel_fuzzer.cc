// The page channel as the UI process reads it: a byte stream from a web
// process, cut into frames, decoded into requests, and each request's
// arguments read as every operation's request (and result) would read them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vesk/core/channel/channel_schema.h"
#include "vesk/core/channel/operations.h"

namespace {

using vesk::channel::DecodeMembers;
using vesk::channel::EncodeMembers;

// What decodes must encode and decode to the same members.
template <typename Struct>
void CheckMembers(const Json::Value& args) {
  const auto decoded = DecodeMembers<Struct>(args);
  if (!decoded) return;
  const Json::Value encoded = EncodeMembers(*decoded);
  const auto again = DecodeMembers<Struct>(encoded);
  if (!again || EncodeMembers(*again) != encoded) __builtin_trap();
}

template <typename... Operations>
void CheckAllOperations(const Json::Value& args, vesk::channel::OperationList<Operations...>) {
  (CheckMembers<typename Operations::Request>(args), ...);
  (CheckMembers<typename Operations::Result>(args), ...);
}

// Messages in the layout this channel writes are read by a shortcut; a
// leading space sends the same text to the full JSON reader, and both
// readings must agree.
void CheckShortcutAgrees(const std::string& payload) {
  const auto request = vesk::channel::DecodeRequest(payload);
  const auto full_request = vesk::channel::DecodeRequest(" " + payload);
  if (request.has_value() != full_request.has_value()) __builtin_trap();
  if (request && (request->op != full_request->op || request->page_id != full_request->page_id ||
                  request->args != full_request->args))
    __builtin_trap();
  const auto response = vesk::channel::DecodeResponse(payload);
  const auto full_response = vesk::channel::DecodeResponse(" " + payload);
  if (response.has_value() != full_response.has_value()) __builtin_trap();
  if (response && (response->error != full_response->error || response->result != full_response->result))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::channel::FrameReader reader;
  reader.Append(reinterpret_cast<const char*>(data), size);
  std::string payload;
  while (reader.Next(&payload) == vesk::channel::FrameReader::Status::kFrame) {
    if (const auto request = vesk::channel::DecodeRequest(payload)) {
      // What decodes must encode and decode to the same request.
      const auto again = vesk::channel::DecodeRequest(vesk::channel::EncodeRequest(*request));
      if (!again || again->op != request->op || again->page_id != request->page_id ||
          again->args != request->args)
        __builtin_trap();
      CheckAllOperations(request->args, vesk::channel::AllOperations{});
    }
    CheckShortcutAgrees(payload);
  }
  (void)vesk::channel::DecodeRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
