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
    (void)vesk::channel::DecodeResponse(payload);
  }
  (void)vesk::channel::DecodeRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
