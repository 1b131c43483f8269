// Page-supplied strings reach window.security's digest and compression
// objects as UTF-8 text from the engine. Any input must convert without
// overrun, the bytes must survive the way back to a script string, the
// compressed stream must inflate to them, and a digest fed in pieces must
// equal the digest fed at once. The access key's text, read from the
// engine's JSON form of a string, is always well-formed UTF-8.
#include <glib.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vesk/core/security/access_key.h"
#include "vesk/core/security/byte_string.h"
#include "vesk/core/security/checksums.h"
#include "vesk/core/security/md5_digest.h"

namespace {

// GLib's check refuses NUL characters, which are text here.
bool ValidUtf8(std::string text) {
  std::replace(text.begin(), text.end(), '\0', ' ');
  return g_utf8_validate_len(text.data(), text.size(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto access_text = vesk::security::TextFromJsonString(text);
  if (access_text && !ValidUtf8(*access_text)) std::abort();
  const auto bytes = vesk::security::ByteStringFromUtf8(text);
  if (bytes.bytes.size() > size) std::abort();
  if (bytes.wide_units && bytes.first_wide_index >= bytes.bytes.size()) std::abort();

  const auto back = vesk::security::ByteStringFromUtf8(vesk::security::ByteStringToUtf8(bytes.bytes));
  if (back.bytes != bytes.bytes || back.wide_units != 0) std::abort();

  const auto compressed =
      vesk::security::ZlibCompress(bytes.bytes, size > 0 ? std::optional<size_t>(data[0]) : std::nullopt);
  if (!compressed) std::abort();
  std::string inflated(bytes.bytes.size() + 1, '\0');
  uLongf length = static_cast<uLongf>(inflated.size());
  if (uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                 reinterpret_cast<const Bytef*>(compressed->data()),
                 static_cast<uLong>(compressed->size())) != Z_OK ||
      std::string_view(inflated.data(), length) != bytes.bytes)
    std::abort();

  vesk::security::Md5Digest once, pieces;
  once.Append(bytes.bytes);
  once.Complete();
  const size_t split = size > 1 ? data[1] % (bytes.bytes.size() + 1) : 0;
  pieces.Append(std::string_view(bytes.bytes).substr(0, split));
  pieces.Append(std::string_view(bytes.bytes).substr(split));
  pieces.Complete();
  if (once.Result() != pieces.Result()) std::abort();
  return 0;
}
