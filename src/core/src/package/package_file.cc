#include "vesk/core/package/package_file.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#include "vesk/core/logging.h"
#include "vesk/core/package/mapped_file.h"
#include "vesk/core/package/package_public_key.h"
#include "vesk/core/package/unzip_helper.h"
#include "vesk/core/package/verified_package_cache.h"

namespace vesk {
namespace {

constexpr uint32_t kPackageVersion = 0;

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The OpenSSL error behind a failed step, in decimal as the log lines want
// it; the thread's error queue is left empty for the next call.
unsigned long TakeOpenSslError() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  return code;
}

struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct PkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct MdDeleter {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// What ReadFileFromPackage and VerifyPackage share: the mapped package after
// its header and signature passed (or were known to pass).
class VerifiedPackage {
 public:
  // |key| null: the embedded key, with the cache.
  bool Open(const std::string& path, const PackagePublicKey* key) {
    path_ = path;
    use_cache_ = key == nullptr;
    started_ = Now();
    if (!file_.Open(path, kMaxPackageBytes)) return false;
    if (!CheckPackageHeader(file_.data(), file_.size())) return Reject();
    SplitPackage(file_.data(), file_.size(), &parts_);
    if (use_cache_ && VerifiedPackageCache::Global().Contains(path, file_.identity())) return true;
    file_.WillReadAll();
    const bool verified = key ? VerifyPackageSignature(*key, parts_.signature, parts_.signature_length,
                                                       parts_.archive, parts_.archive_length)
                              : VerifyPackageSignature(parts_.signature, parts_.signature_length,
                                                       parts_.archive, parts_.archive_length);
    if (!verified) return Reject();
    newly_verified_ = true;
    return true;
  }

  // After the bytes were used: true when the file kept its identity all
  // along, so what was read is what was verified.
  bool Finish() {
    if (!file_.Unchanged()) return Reject();
    if (use_cache_ && newly_verified_)
      VerifiedPackageCache::Global().Remember(path_, file_.identity(), started_);
    return true;
  }

  const PackageParts& parts() const { return parts_; }

 private:
  bool Reject() {
    if (use_cache_) VerifiedPackageCache::Global().Forget(path_);
    return false;
  }

  std::string path_;
  bool use_cache_ = true;
  bool newly_verified_ = false;
  timespec started_{};
  MappedFile file_;
  PackageParts parts_;
};

bool VerifyPackageFile(const std::string& path, const PackagePublicKey* key) {
  // A package that changes while it is verified is read again: the second
  // pass sees a settled file or the next change.
  for (int attempt = 0; attempt < 2; ++attempt) {
    VerifiedPackage package;
    if (!package.Open(path, key)) return false;
    if (package.Finish()) return true;
  }
  return false;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > kMaxPackageBytes) {
    ::close(fd);
    return false;
  }
  bytes->assign(static_cast<size_t>(info.st_size), 0);
  size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t got = ::read(fd, bytes->data() + done, bytes->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  return true;
}

bool CheckPackageHeader(const uint8_t* bytes, size_t size) {
  if (!bytes || size < 4 || ReadLe32(bytes) != kPackageMagic) {
    VESK_PLOG(WARNING) << "Magic mismatch\n";
    return false;
  }
  if (size >= 8 && ReadLe32(bytes + 4) != kPackageVersion) {
    VESK_PLOG(WARNING) << "Version mismatch\n";
    return false;
  }
  // A file too short for the header cannot hold the signature it announces.
  if (size < kPackageHeaderSize || ReadLe32(bytes + 12) > size - kPackageHeaderSize) {
    VESK_PLOG(WARNING) << "Pack too small\n";
    return false;
  }
  return true;
}

bool SplitPackage(const uint8_t* bytes, size_t size, PackageParts* parts) {
  if (!bytes || size < kPackageHeaderSize) return false;
  const uint32_t signature_length = ReadLe32(bytes + 12);
  if (signature_length > size - kPackageHeaderSize) return false;
  parts->signature = bytes + kPackageHeaderSize;
  parts->signature_length = signature_length;
  parts->archive = parts->signature + signature_length;
  parts->archive_length = size - kPackageHeaderSize - signature_length;
  return true;
}

bool VerifyPackageSignature(const uint8_t* signature, size_t signature_length, const uint8_t* archive,
                            size_t archive_length) {
  const PackagePublicKey* key = PackagePublicKey::Embedded();
  if (!key) {
    VESK_PLOG(WARNING) << "CryptImportKey Failed " << TakeOpenSslError();
    return false;
  }
  return VerifyPackageSignature(*key, signature, signature_length, archive, archive_length);
}

bool VerifyPackageSignature(const PackagePublicKey& key, const uint8_t* signature, size_t signature_length,
                            const uint8_t* archive, size_t archive_length) {
  // The steps keep the names of the platform's original crypto calls in
  // their log lines: provider, key, hash object, hashing, verification.
  std::unique_ptr<EVP_MD, MdDeleter> sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
  if (!sha1) {
    VESK_PLOG(WARNING) << "CryptAcquireContext Failed " << TakeOpenSslError();
    return false;
  }
  if (!key.get()) {
    VESK_PLOG(WARNING) << "CryptImportKey Failed " << TakeOpenSslError();
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> hash(EVP_MD_CTX_new());
  if (!hash || EVP_DigestInit_ex(hash.get(), sha1.get(), nullptr) != 1) {
    VESK_PLOG(WARNING) << "CryptCreateHash Failed " << TakeOpenSslError();
    return false;
  }
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  if ((archive_length > 0 && EVP_DigestUpdate(hash.get(), archive, archive_length) != 1) ||
      EVP_DigestFinal_ex(hash.get(), digest, &digest_length) != 1) {
    VESK_PLOG(WARNING) << "CryptHashData Failed " << TakeOpenSslError();
    return false;
  }
  // Stored least significant byte first; PKCS #1 wants the other order.
  std::vector<uint8_t> reversed(signature, signature + signature_length);
  std::reverse(reversed.begin(), reversed.end());
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> verify(EVP_PKEY_CTX_new(key.get(), nullptr));
  const bool verified =
      verify && EVP_PKEY_verify_init(verify.get()) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(verify.get(), RSA_PKCS1_PADDING) == 1 &&
      EVP_PKEY_CTX_set_signature_md(verify.get(), sha1.get()) == 1 &&
      EVP_PKEY_verify(verify.get(), reversed.data(), reversed.size(), digest, digest_length) == 1;
  if (!verified) {
    VESK_PLOG(WARNING) << "CryptVerifySignature Failed " << TakeOpenSslError();
    return false;
  }
  return true;
}

bool VerifyPackage(const std::string& path) { return VerifyPackageFile(path, nullptr); }

bool VerifyPackageWithKey(const std::string& path, const PackagePublicKey& key) {
  return VerifyPackageFile(path, &key);
}

bool ReadFileFromPackage(const std::string& path, const std::string& entry_name,
                         std::vector<uint8_t>* bytes) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    VerifiedPackage package;
    if (!package.Open(path, nullptr)) return false;
    std::vector<uint8_t> entry;
    bool found;
    {
      UnzipHelper unzip(package.parts().archive, package.parts().archive_length);
      found = unzip.UnzipToMemory(entry_name, &entry);
    }
    // The entry came from the mapping; it counts only if the file did not
    // change meanwhile.
    if (!package.Finish()) continue;
    if (!found) return false;
    *bytes = std::move(entry);
    return true;
  }
  return false;
}

void ForgetVerifiedPackages() { VerifiedPackageCache::Global().Clear(); }

}  // namespace vesk
