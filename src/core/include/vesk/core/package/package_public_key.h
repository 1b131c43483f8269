// The RSA public key that verifies packages, and the 276-byte public-key
// blob it is embedded as:
//   0 type 6 | 1 version 2 | 2 reserved 0 | 4 algorithm 0x2400 | 8 "RSA1"
//   12 modulus bits (2048) | 16 public exponent | 20 modulus, least significant byte first
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

inline constexpr size_t kPackageKeyBlobSize = 276;

class PackagePublicKey {
 public:
  // Null when the blob does not have the layout above.
  static std::unique_ptr<PackagePublicKey> FromBlob(const uint8_t* blob, size_t size);
  // Null when the file is not a PEM RSA public key (or certificate-less key).
  static std::unique_ptr<PackagePublicKey> FromPemFile(const std::string& path);
  // The key built into the program; null only if the embedded blob is bad,
  // which the build rules out.
  static const PackagePublicKey* Embedded();
  static const std::vector<uint8_t>& EmbeddedBlob();

  ~PackagePublicKey();
  PackagePublicKey(const PackagePublicKey&) = delete;
  PackagePublicKey& operator=(const PackagePublicKey&) = delete;

  // Owned by this object; OpenSSL allows concurrent verification with it.
  EVP_PKEY* get() const { return key_; }
  // The blob form; empty when the key is not 2048-bit RSA.
  std::vector<uint8_t> ToBlob() const;

 private:
  explicit PackagePublicKey(EVP_PKEY* key) : key_(key) {}
  EVP_PKEY* key_;
};

}  // namespace vesk
