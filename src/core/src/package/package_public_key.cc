#include "vesk/core/package/package_public_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>

namespace vesk {
namespace {

constexpr uint8_t kEmbeddedBlob[] = {
#include "vesk_package_public_key.inc"
};
static_assert(sizeof(kEmbeddedBlob) == kPackageKeyBlobSize, "the embedded key blob has the wrong size");

constexpr uint8_t kBlobTypePublicKey = 6;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kAlgorithmRsaSign = 0x2400;
constexpr uint32_t kRsa1Magic = 0x31415352;  // "RSA1"
constexpr uint32_t kModulusBits = 2048;
constexpr size_t kModulusOffset = 20;
constexpr size_t kModulusBytes = kModulusBits / 8;

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteLe32(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

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

std::unique_ptr<PackagePublicKey> PackagePublicKey::FromBlob(const uint8_t* blob, size_t size) {
  if (!blob || size != kPackageKeyBlobSize) return nullptr;
  if (blob[0] != kBlobTypePublicKey || blob[1] != kBlobVersion || blob[2] != 0 || blob[3] != 0 ||
      ReadLe32(blob + 4) != kAlgorithmRsaSign || ReadLe32(blob + 8) != kRsa1Magic ||
      ReadLe32(blob + 12) != kModulusBits)
    return nullptr;
  const uint32_t exponent_value = ReadLe32(blob + 16);
  // An even or tiny exponent is no RSA key anybody signs with.
  if (exponent_value < 3 || exponent_value % 2 == 0) return nullptr;
  BnPtr modulus(BN_lebin2bn(blob + kModulusOffset, static_cast<int>(kModulusBytes), nullptr));
  BnPtr exponent(BN_new());
  if (!modulus || !exponent || BN_set_word(exponent.get(), exponent_value) != 1) return nullptr;
  if (BN_num_bits(modulus.get()) != static_cast<int>(kModulusBits)) return nullptr;
  EVP_PKEY* key = RsaKeyFromNumbers(modulus.get(), exponent.get());
  if (!key) return nullptr;
  return std::unique_ptr<PackagePublicKey>(new PackagePublicKey(key));
}

std::unique_ptr<PackagePublicKey> PackagePublicKey::FromPemFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (!key) return nullptr;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return std::unique_ptr<PackagePublicKey>(new PackagePublicKey(key));
}

const PackagePublicKey* PackagePublicKey::Embedded() {
  // Built once; OpenSSL keys are safe to share between verifying threads.
  static const PackagePublicKey* key = FromBlob(kEmbeddedBlob, sizeof(kEmbeddedBlob)).release();
  return key;
}

const std::vector<uint8_t>& PackagePublicKey::EmbeddedBlob() {
  static const auto* blob = new std::vector<uint8_t>(std::begin(kEmbeddedBlob), std::end(kEmbeddedBlob));
  return *blob;
}

PackagePublicKey::~PackagePublicKey() { EVP_PKEY_free(key_); }

std::vector<uint8_t> PackagePublicKey::ToBlob() const {
  BIGNUM* modulus_raw = nullptr;
  BIGNUM* exponent_raw = nullptr;
  if (EVP_PKEY_get_bn_param(key_, OSSL_PKEY_PARAM_RSA_N, &modulus_raw) != 1) return {};
  BnPtr modulus(modulus_raw);
  if (EVP_PKEY_get_bn_param(key_, OSSL_PKEY_PARAM_RSA_E, &exponent_raw) != 1) return {};
  BnPtr exponent(exponent_raw);
  if (BN_num_bits(modulus.get()) != static_cast<int>(kModulusBits) || BN_num_bits(exponent.get()) > 32)
    return {};
  std::vector<uint8_t> blob(kPackageKeyBlobSize, 0);
  blob[0] = kBlobTypePublicKey;
  blob[1] = kBlobVersion;
  WriteLe32(kAlgorithmRsaSign, &blob[4]);
  WriteLe32(kRsa1Magic, &blob[8]);
  WriteLe32(kModulusBits, &blob[12]);
  WriteLe32(static_cast<uint32_t>(BN_get_word(exponent.get())), &blob[16]);
  if (BN_bn2lebinpad(modulus.get(), &blob[kModulusOffset], static_cast<int>(kModulusBytes)) < 0) return {};
  return blob;
}

}  // namespace vesk
