// Session keys: 16 bytes a page derives from eight numbers, wrapped with the
// counterpart's RSA public key (PKCS #1 v1.5) for transport.
//
// The wrapping key is embedded as a 148-byte public-key blob:
//   0 type 6 | 1 version 2 | 2 reserved 0 | 4 algorithm 0xA400 (key exchange)
//   8 "RSA1" | 12 modulus bits (1024) | 16 public exponent
//   20 modulus, least significant byte first
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::security {

inline constexpr size_t kSessionKeyBlobSize = 148;
inline constexpr size_t kSessionKeySize = 16;
inline constexpr size_t kKeyNumberCount = 8;

using KeyNumbers = std::array<int32_t, kKeyNumberCount>;
using SessionKey = std::array<uint8_t, kSessionKeySize>;

// The eight numbers laid out in order, each little-endian (32 bytes).
std::array<uint8_t, 4 * kKeyNumberCount> KeyMaterial(const KeyNumbers& numbers);
// The first 16 bytes of the key material: only the first four numbers count.
SessionKey SessionKeyFromNumbers(const KeyNumbers& numbers);

class SessionKeyWrapper {
 public:
  // Null when the blob does not have the layout above.
  static std::unique_ptr<SessionKeyWrapper> FromBlob(const uint8_t* blob, size_t size);
  // The key built into the program; null only if the embedded blob is bad,
  // which the build rules out.
  static const SessionKeyWrapper* Embedded();
  static const std::vector<uint8_t>& EmbeddedBlob();

  ~SessionKeyWrapper();
  SessionKeyWrapper(const SessionKeyWrapper&) = delete;
  SessionKeyWrapper& operator=(const SessionKeyWrapper&) = delete;

  // RSA PKCS #1 v1.5 encryption of |key| (random padding, so every call
  // differs), the 128 bytes most significant first, in padded Base64 (172
  // characters). Null on failure, after the warning
  // "RSAFailed, System Error is <OpenSSL error code>".
  std::optional<std::string> Wrap(const SessionKey& key) const;

  EVP_PKEY* get() const { return key_; }

 private:
  explicit SessionKeyWrapper(EVP_PKEY* key) : key_(key) {}
  EVP_PKEY* key_;
};

// Wraps |key| with the embedded key; a key that cannot be imported fails
// like any other step (same warning).
std::optional<std::string> WrapSessionKey(const SessionKey& key);

}  // namespace vesk::security
