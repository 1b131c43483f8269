// The package file: "QBUN" header, RSA signature (stored least significant
// byte first) and a ZIP archive. Every function here is safe to call from any
// thread at the same time.
//
// Layout, all integers unsigned 32-bit little-endian:
//   0  magic "QBUN"   4  version (0)   8  not interpreted   12  signature length L
//   16 signature (L bytes)             16 + L  archive (to the end of the file)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class PackagePublicKey;

inline constexpr uint32_t kPackageMagic = 0x4E554251;  // "QBUN" read as a little-endian word
inline constexpr size_t kPackageHeaderSize = 16;
// Packages are a few megabytes; anything beyond this is refused unread.
inline constexpr uint64_t kMaxPackageBytes = 1ull << 30;

// The signature and archive parts of a package whose header passed.
struct PackageParts {
  const uint8_t* signature = nullptr;
  size_t signature_length = 0;
  const uint8_t* archive = nullptr;
  size_t archive_length = 0;
};

// Sizes the vector to the file and reads the file into it. False when the
// file does not exist, is not a regular file, its size cannot be obtained or
// exceeds kMaxPackageBytes. A short read still returns true: the zero-filled
// rest fails the signature check that always follows.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);

// Magic, version and signature length, in that order; the first failure is
// logged ("Magic mismatch\n", "Version mismatch\n", "Pack too small\n").
bool CheckPackageHeader(const uint8_t* bytes, size_t size);
// Splits a package whose header passed CheckPackageHeader (not logged).
bool SplitPackage(const uint8_t* bytes, size_t size, PackageParts* parts);

// RSA PKCS #1 v1.5 over SHA-1 of |archive| with the embedded key. The stored
// signature is reversed before checking.
bool VerifyPackageSignature(const uint8_t* signature, size_t signature_length, const uint8_t* archive,
                            size_t archive_length);
bool VerifyPackageSignature(const PackagePublicKey& key, const uint8_t* signature, size_t signature_length,
                            const uint8_t* archive, size_t archive_length);

// Header and signature of the package file at |path| with the embedded key.
// A package that was checked before and is unchanged on disk (same device,
// inode, size, modification and change time) is not hashed again: a verified
// one is served from the bytes that were verified (VerifiedPackageCache), a
// failed one fails at once.
bool VerifyPackage(const std::string& path);
// The same checks with another key; never uses or fills the cache.
bool VerifyPackageWithKey(const std::string& path, const PackagePublicKey& key);

// Verifies the package (as VerifyPackage) and extracts the entry |entry_name|
// (exact, case-sensitive, '/' separated) from the verified bytes. |bytes| is
// replaced only on success.
bool ReadFileFromPackage(const std::string& path, const std::string& entry_name, std::vector<uint8_t>* bytes);

// Forgets every remembered verification (tests and benchmarks).
void ForgetVerifiedPackages();

}  // namespace vesk
