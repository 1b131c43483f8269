#include "vesk/core/rsa_key_blob.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <memory>

namespace vesk {
namespace {

constexpr uint8_t kBlobTypePublicKey = 6;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kRsa1Magic = 0x31415352;  // "RSA1"

struct BnDeleter {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;

EVP_PKEY* RsaKeyFromNumbers(const BIGNUM* modulus, const BIGNUM* exponent) {
  OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
  if (!builder) return nullptr;
  EVP_PKEY* key = nullptr;
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* ctx = nullptr;
  if (OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, modulus) == 1 &&
      OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, exponent) == 1 &&
      (params = OSSL_PARAM_BLD_to_param(builder)) != nullptr &&
      (ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr)) != nullptr &&
      EVP_PKEY_fromdata_init(ctx) == 1) {
    if (EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
  }
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(builder);
  return key;
}

}  // namespace

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteLittleEndian32(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

EVP_PKEY* RsaPublicKeyFromBlob(const uint8_t* blob, size_t size, uint32_t algorithm, uint32_t modulus_bits) {
  if (!blob || size != RsaBlobSize(modulus_bits)) return nullptr;
  if (blob[0] != kBlobTypePublicKey || blob[1] != kBlobVersion || blob[2] != 0 || blob[3] != 0 ||
      ReadLittleEndian32(blob + 4) != algorithm || ReadLittleEndian32(blob + 8) != kRsa1Magic ||
      ReadLittleEndian32(blob + 12) != modulus_bits)
    return nullptr;
  const uint32_t exponent_value = ReadLittleEndian32(blob + 16);
  // An even or tiny exponent is no RSA key anybody uses.
  if (exponent_value < 3 || exponent_value % 2 == 0) return nullptr;
  BnPtr modulus(BN_lebin2bn(blob + kRsaBlobHeaderSize, static_cast<int>(modulus_bits / 8), nullptr));
  BnPtr exponent(BN_new());
  if (!modulus || !exponent || BN_set_word(exponent.get(), exponent_value) != 1) return nullptr;
  if (BN_num_bits(modulus.get()) != static_cast<int>(modulus_bits)) return nullptr;
  return RsaKeyFromNumbers(modulus.get(), exponent.get());
}

}  // namespace vesk
