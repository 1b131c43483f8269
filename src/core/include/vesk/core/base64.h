#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// Standard Base64 (RFC 4648 alphabet) with padding; strict: any character
// outside the alphabet, a wrong length or misplaced padding is rejected.
std::optional<std::string> Base64Decode(std::string_view text);
std::string Base64Encode(std::string_view bytes);

}  // namespace vesk
