// Access keys: a text encrypted with the session key for the counterpart
// that holds the same session key and the agreed vector.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "vesk/core/security/session_key.h"

namespace vesk::security {

using AccessKeyIv = std::array<uint8_t, 16>;

// The built-in vector, composed from its four 32-bit constants (each
// little-endian) on every use rather than kept as one block in memory.
AccessKeyIv BuiltInAccessKeyIv();

// PKCS #7 padding to 16 (a whole block when already aligned), then
// AES-128-CBC with |key| and |iv|. |text| is the UTF-8 text.
std::string EncryptAccessKey(const SessionKey& key, const AccessKeyIv& iv, std::string_view text);

// RFC 4648 section 5 ("-" and "_"), without "=" padding.
std::string Base64UrlEncodeNoPadding(std::string_view bytes);

}  // namespace vesk::security
