#include "vesk/core/package/package_public_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>

#include "vesk/core/rsa_key_blob.h"

namespace vesk {
namespace {

constexpr uint8_t kEmbeddedBlob[] = {
#include "vesk_package_public_key.inc"
};
static_assert(sizeof(kEmbeddedBlob) == kPackageKeyBlobSize, "the embedded key blob has the wrong size");

constexpr uint8_t kBlobTypePublicKey = 6;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kRsa1Magic = 0x31415352;  // "RSA1"
constexpr uint32_t kModulusBits = 2048;
constexpr size_t kModulusOffset = 20;
constexpr size_t kModulusBytes = kModulusBits / 8;

struct BnDeleter {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;

}  // namespace

std::unique_ptr<PackagePublicKey> PackagePublicKey::FromBlob(const uint8_t* blob, size_t size) {
  if (!blob || size != kPackageKeyBlobSize) return nullptr;
  EVP_PKEY* key = RsaPublicKeyFromBlob(blob, size, kBlobAlgorithmRsaSign, kModulusBits);
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
  WriteLittleEndian32(kBlobAlgorithmRsaSign, &blob[4]);
  WriteLittleEndian32(kRsa1Magic, &blob[8]);
  WriteLittleEndian32(kModulusBits, &blob[12]);
  WriteLittleEndian32(static_cast<uint32_t>(BN_get_word(exponent.get())), &blob[16]);
  if (BN_bn2lebinpad(modulus.get(), &blob[kModulusOffset], static_cast<int>(kModulusBytes)) < 0) return {};
  return blob;
}

}  // namespace vesk
