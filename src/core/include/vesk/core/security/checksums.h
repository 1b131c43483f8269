// CRC-32 and zlib compression of byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::security {

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, initial 0xFFFFFFFF, final
// complement), read in chunks of at most 1 MiB.
uint32_t Crc32(std::string_view bytes);
// 8 upper-case hexadecimal digits.
std::string FormatCrc32(uint32_t crc);

// The first output capacity tried: byte count × 1.01 + 13, truncated.
size_t ZlibCapacityEstimate(size_t byte_count);
// Growth of the capacity after the compressor ran out of room.
inline constexpr size_t kZlibCapacityStep = 65536;

// The zlib format (RFC 1950) at level 9 in one call, retried from the start
// with kZlibCapacityStep more room while the output does not fit. Nothing
// for any other compressor failure. |capacity| overrides the estimate.
std::optional<std::string> ZlibCompress(std::string_view bytes, std::optional<size_t> capacity = std::nullopt,
                                        int* attempts = nullptr);

}  // namespace vesk::security
