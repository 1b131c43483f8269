#include "vesk/core/package/package_diagnosis.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "vesk/core/package/package_file.h"
#include "vesk/core/package/package_public_key.h"

namespace vesk {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 15];
  }
  return text;
}

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The whole regular file through pread (never a mapping another process could
// shrink under us); the reason in words when it cannot be read.
bool ReadPackageBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *reason = errno == ENOENT ? "the file does not exist"
                              : std::string("it cannot be opened: ") + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    *reason = std::string("it cannot be examined: ") + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *reason = "it is not a regular file";
    ok = false;
  } else if (static_cast<uint64_t>(info.st_size) > kMaxPackageBytes) {
    *reason = "it is larger than a package may be (" + std::to_string(info.st_size) + " bytes)";
    ok = false;
  }
  if (ok) {
    bytes->assign(static_cast<size_t>(info.st_size), 0);
    size_t done = 0;
    while (done < bytes->size()) {
      const ssize_t got = ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    // A file that shrank while read is judged by what it still holds.
    bytes->resize(done);
  }
  ::close(fd);
  return ok;
}

// The header rules of CheckPackageHeader, in words.
bool ExplainHeader(const uint8_t* bytes, size_t size, std::string* reason) {
  if (size < 4 || ReadLe32(bytes) != kPackageMagic) {
    *reason = size < 4 ? "it is too small to be a package (" + std::to_string(size) + " bytes)"
                       : "it does not begin with \"QBUN\": not a package (bad magic)";
    return false;
  }
  if (size >= 8 && ReadLe32(bytes + 4) != 0) {
    *reason = "its format version is " + std::to_string(ReadLe32(bytes + 4)) + ", not 0";
    return false;
  }
  if (size < kPackageHeaderSize) {
    *reason = "it is too small for a package header (" + std::to_string(size) + " bytes)";
    return false;
  }
  const uint32_t signature_length = ReadLe32(bytes + 12);
  if (signature_length > size - kPackageHeaderSize) {
    *reason = "it is too small: the header announces a " + std::to_string(signature_length) +
              "-byte signature in a file of " + std::to_string(size) + " bytes (truncated?)";
    return false;
  }
  return true;
}

// RSA PKCS #1 v1.5 over SHA-1 of the archive, the stored signature reversed;
// quiet, unlike VerifyPackageSignature, whose failure lines the start-up
// check has already written.
bool SignatureMatches(const PackagePublicKey& key, const uint8_t* bytes, size_t size) {
  const uint32_t signature_length = ReadLe32(bytes + 12);
  std::vector<uint8_t> signature(bytes + kPackageHeaderSize, bytes + kPackageHeaderSize + signature_length);
  std::reverse(signature.begin(), signature.end());
  const uint8_t* archive = bytes + kPackageHeaderSize + signature_length;
  const size_t archive_length = size - kPackageHeaderSize - signature_length;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  EVP_PKEY_CTX* pctx = nullptr;
  return ctx && EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sha1(), nullptr, key.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
         EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), archive, archive_length) == 1;
}

}  // namespace

std::string KeyFingerprint(const PackagePublicKey& key) { return PublicKeyFingerprint(key.get()); }

std::string PublicKeyFingerprint(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = key ? i2d_PUBKEY(key, &der) : -1;
  if (length <= 0) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  const bool hashed =
      EVP_Digest(der, static_cast<size_t>(length), digest, &digest_length, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  return hashed ? Hex(digest, digest_length) : std::string();
}

std::vector<uint8_t> KeyIdBytes(EVP_PKEY* key) {
  const std::string fingerprint = PublicKeyFingerprint(key);
  std::vector<uint8_t> id;
  for (size_t i = 0; i + 1 < fingerprint.size() && id.size() < 4; i += 2)
    id.push_back(static_cast<uint8_t>(std::stoi(fingerprint.substr(i, 2), nullptr, 16)));
  return id;
}

PackageDiagnosis DiagnosePackage(const std::string& path, const PackagePublicKey* key) {
  PackageDiagnosis result;
  std::vector<uint8_t> bytes;
  if (!ReadPackageBytes(path, &bytes, &result.reason)) return result;
  return DiagnosePackageBytes(bytes.data(), bytes.size(), key);
}

PackageDiagnosis DiagnosePackageBytes(const uint8_t* bytes, size_t size, const PackagePublicKey* key) {
  PackageDiagnosis result;
  if (!ExplainHeader(bytes, size, &result.reason)) return result;
  if (ReadLe32(bytes + 8) != 0) result.signer_key_id = Hex(bytes + 8, 4);
  const PackagePublicKey* checked = key ? key : PackagePublicKey::Embedded();
  if (!checked) {
    result.reason = "the key to check it against cannot be loaded";
    return result;
  }
  const std::string fingerprint = KeyFingerprint(*checked);
  if (SignatureMatches(*checked, bytes, size)) {
    result.verified = true;
    result.reason = "verified with key " + fingerprint;
    return result;
  }
  result.reason = "its signature does not match key " + fingerprint;
  if (!result.signer_key_id.empty() && fingerprint.compare(0, 8, result.signer_key_id) != 0)
    result.reason += " (it was signed with another key, id " + result.signer_key_id + ")";
  else if (!result.signer_key_id.empty())
    result.reason += " (it was signed with this key but changed afterwards)";
  else
    result.reason += " (damaged, or signed with another key)";
  return result;
}

}  // namespace vesk
