// Access keys: a text encrypted with the session key for the counterpart
// that holds the same session key and the agreed vector.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// The UTF-8 text of a script string given as its JSON string literal (the
// engine's JSON form writes an unpaired surrogate as a \u escape, where its
// plain UTF-8 form would end the text there). Each unpaired surrogate, and
// each byte that starts no valid UTF-8 sequence, becomes U+FFFD, as a UTF-16
// to UTF-8 conversion does; NUL characters stay. Nothing for a text that is
// not one JSON string literal.
std::optional<std::string> TextFromJsonString(std::string_view json);

// RFC 4648 section 5 ("-" and "_"), without "=" padding.
std::string Base64UrlEncodeNoPadding(std::string_view bytes);

}  // namespace vesk::security
