// Why a package fails verification, in words: for the start-up check's log
// line and for the package tool. Logs nothing itself.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class PackagePublicKey;

// SHA-256 of the key's DER SubjectPublicKeyInfo in lower-case hex, the same
// as `openssl pkey -pubin -in key.pem -outform DER | sha256sum`; empty when
// the key cannot be encoded.
std::string KeyFingerprint(const PackagePublicKey& key);
// The same for the public half of any key, private ones included.
std::string PublicKeyFingerprint(EVP_PKEY* key);
// The first four bytes of the fingerprint: the key id that the package tool
// stores in the header word at offset 8, which readers do not interpret.
std::vector<uint8_t> KeyIdBytes(EVP_PKEY* key);

struct PackageDiagnosis {
  bool verified = false;
  // A sentence fragment: "the file does not exist", "its signature does not
  // match key 3f2a...", "verified with key 3f2a...".
  std::string reason;
  // The header's key id word in hex, when the file has a header; empty for
  // a package without one (all zero).
  std::string signer_key_id;
};

// Reads the package at |path| afresh (not the verification cache) and checks
// it against |key|, or the key built into the program when |key| is null.
PackageDiagnosis DiagnosePackage(const std::string& path, const PackagePublicKey* key);
// The same for the bytes of a package already read.
PackageDiagnosis DiagnosePackageBytes(const uint8_t* bytes, size_t size, const PackagePublicKey* key);

}  // namespace vesk
