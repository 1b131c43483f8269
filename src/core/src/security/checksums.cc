#include "vesk/core/security/checksums.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace vesk::security {

uint32_t Crc32(std::string_view bytes) {
  constexpr size_t kChunk = size_t{1} << 20;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (size_t done = 0; done < bytes.size(); done += kChunk) {
    const size_t length = std::min(kChunk, bytes.size() - done);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), static_cast<uInt>(length));
  }
  return static_cast<uint32_t>(crc);
}

std::string FormatCrc32(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

size_t ZlibCapacityEstimate(size_t byte_count) {
  const double estimate = static_cast<double>(byte_count) * 1.01 + 13;
  if (estimate >= static_cast<double>(std::numeric_limits<size_t>::max() / 2)) return byte_count;
  return static_cast<size_t>(estimate);
}

std::optional<std::string> ZlibCompress(std::string_view bytes, std::optional<size_t> capacity,
                                        int* attempts) {
  size_t room = capacity ? *capacity : ZlibCapacityEstimate(bytes.size());
  // The retries end: compressBound() always fits, and every retry brings it
  // kZlibCapacityStep closer.
  const size_t bound = compressBound(static_cast<uLong>(bytes.size()));
  std::string out;
  for (int attempt = 1;; ++attempt) {
    if (attempts) *attempts = attempt;
    out.resize(room);
    uLongf length = static_cast<uLongf>(room);
    const int rc =
        compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uLong>(bytes.size()), 9);
    if (rc == Z_OK) {
      out.resize(length);
      return out;
    }
    if (rc != Z_BUF_ERROR || room > bound) return std::nullopt;
    room += kZlibCapacityStep;
  }
}

}  // namespace vesk::security
