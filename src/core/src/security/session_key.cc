#include "vesk/core/security/session_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>

#include "vesk/core/base64.h"
#include "vesk/core/logging.h"
#include "vesk/core/rsa_key_blob.h"

namespace vesk::security {
namespace {

constexpr uint8_t kEmbeddedBlob[] = {
#include "vesk_session_public_key.inc"
};
static_assert(sizeof(kEmbeddedBlob) == kSessionKeyBlobSize,
              "the embedded session key blob has the wrong size");

constexpr uint32_t kModulusBits = 1024;
constexpr size_t kModulusBytes = kModulusBits / 8;

std::nullopt_t Failed() {
  // The code of the first queued OpenSSL error stands for the system error
  // code of the platform this text comes from.
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  VESK_LOG(WARNING) << "RSA"
                    << "Failed, System Error is " << code;
  return std::nullopt;
}

}  // namespace

std::array<uint8_t, 4 * kKeyNumberCount> KeyMaterial(const KeyNumbers& numbers) {
  std::array<uint8_t, 4 * kKeyNumberCount> material{};
  for (size_t i = 0; i < numbers.size(); ++i) {
    const auto value = static_cast<uint32_t>(numbers[i]);
    for (size_t b = 0; b < 4; ++b) material[i * 4 + b] = static_cast<uint8_t>(value >> (8 * b));
  }
  return material;
}

SessionKey SessionKeyFromNumbers(const KeyNumbers& numbers) {
  const auto material = KeyMaterial(numbers);
  SessionKey key{};
  std::copy(material.begin(), material.begin() + kSessionKeySize, key.begin());
  return key;
}

std::unique_ptr<SessionKeyWrapper> SessionKeyWrapper::FromBlob(const uint8_t* blob, size_t size) {
  if (!blob || size != kSessionKeyBlobSize) return nullptr;
  EVP_PKEY* key = RsaPublicKeyFromBlob(blob, size, kBlobAlgorithmRsaKeyExchange, kModulusBits);
  if (!key) return nullptr;
  return std::unique_ptr<SessionKeyWrapper>(new SessionKeyWrapper(key));
}

const SessionKeyWrapper* SessionKeyWrapper::Embedded() {
  static const SessionKeyWrapper* wrapper = FromBlob(kEmbeddedBlob, sizeof(kEmbeddedBlob)).release();
  return wrapper;
}

const std::vector<uint8_t>& SessionKeyWrapper::EmbeddedBlob() {
  static const auto* blob = new std::vector<uint8_t>(std::begin(kEmbeddedBlob), std::end(kEmbeddedBlob));
  return *blob;
}

SessionKeyWrapper::~SessionKeyWrapper() { EVP_PKEY_free(key_); }

std::optional<std::string> SessionKeyWrapper::Wrap(const SessionKey& key) const {
  // One context per call, like the rest of this object: nothing is shared
  // between calls but the immutable key.
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr), &EVP_PKEY_CTX_free);
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return Failed();
  size_t length = 0;
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &length, key.data(), key.size()) != 1 || length != kModulusBytes)
    return Failed();
  std::string cipher(length, '\0');
  if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(cipher.data()), &length, key.data(),
                       key.size()) != 1 ||
      length != kModulusBytes)
    return Failed();
  // OpenSSL already yields PKCS #1 order (most significant byte first).
  return Base64Encode(cipher);
}

std::optional<std::string> WrapSessionKey(const SessionKey& key) {
  const SessionKeyWrapper* wrapper = SessionKeyWrapper::Embedded();
  if (!wrapper) return Failed();
  return wrapper->Wrap(key);
}

}  // namespace vesk::security
