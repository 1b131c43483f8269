// GUIDs from the platform's generator (libuuid).
#pragma once

#include <optional>
#include <string>

namespace vesk::security {

// A new random GUID as 36 lower-case characters, 8-4-4-4-12, no braces;
// nothing when the generator fails.
std::optional<std::string> CreateGuid();

}  // namespace vesk::security
