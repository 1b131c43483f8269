// The upload request file and its Base64 hand-off value, written by another
// program and read by this one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vesk/core/base64.h"
#include "vesk/core/upload_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> paths;
  (void)vesk::ParseUploadRequest(text, &paths);
  const auto decoded = vesk::Base64Decode(text);
  if (decoded && vesk::Base64Decode(vesk::Base64Encode(*decoded)) != decoded) __builtin_trap();
  return 0;
}
