// The page channel as the UI process reads it: a byte stream from a web
// process, cut into frames and decoded into requests.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vesk/core/channel/channel_schema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::channel::FrameReader reader;
  reader.Append(reinterpret_cast<const char*>(data), size);
  std::string payload;
  while (reader.Next(&payload) == vesk::channel::FrameReader::Status::kFrame) {
    if (const auto request = vesk::channel::DecodeRequest(payload)) {
      // What decodes must encode and decode to the same request.
      const auto again = vesk::channel::DecodeRequest(vesk::channel::EncodeRequest(*request));
      if (!again || again->op != request->op || again->page_id != request->page_id) __builtin_trap();
    }
    (void)vesk::channel::DecodeResponse(payload);
  }
  (void)vesk::channel::DecodeRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
