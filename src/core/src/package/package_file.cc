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
#include "vesk/core/package/opened_file.h"
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

bool CheckPackageBytes(const std::vector<uint8_t>& bytes, const PackagePublicKey* key) {
  PackageParts parts;
  if (!CheckPackageHeader(bytes.data(), bytes.size()) || !SplitPackage(bytes.data(), bytes.size(), &parts))
    return false;
  return key ? VerifyPackageSignature(*key, parts.signature, parts.signature_length, parts.archive,
                                      parts.archive_length)
             : VerifyPackageSignature(parts.signature, parts.signature_length, parts.archive,
                                      parts.archive_length);
}

// What ReadFileFromPackage and VerifyPackage share: the package's bytes in
// memory after its header and signature passed (or were known to pass). They
// are read once with pread, so a file that another process shrinks or
// rewrites meanwhile yields a failed check, never a fault or unchecked bytes.
class CheckedPackage {
 public:
  // |key| null: the embedded key, with the cache.
  bool Open(const std::string& path, const PackagePublicKey* key) {
    // A file that changed while it was read fails its check; it is read once
    // more, and the second pass sees a settled file or the next change.
    for (int attempt = 0; attempt < 2; ++attempt) {
      bool changed = false;
      if (TryOpen(path, key, &changed)) return true;
      if (!changed) return false;
    }
    return false;
  }

  const PackageParts& parts() const { return parts_; }

 private:
  bool TryOpen(const std::string& path, const PackagePublicKey* key, bool* changed) {
    VerifiedPackageCache& cache = VerifiedPackageCache::Global();
    const bool use_cache = key == nullptr;
    const timespec started = Now();
    OpenedFile file;
    if (!file.Open(path, kMaxPackageBytes)) return false;
    if (use_cache) {
      switch (cache.Find(path, file.identity(), &bytes_)) {
        case VerifiedPackageCache::Lookup::kVerified:
          return SplitPackage(bytes_->data(), bytes_->size(), &parts_);
        case VerifiedPackageCache::Lookup::kFailed:
          return false;
        case VerifiedPackageCache::Lookup::kUnknown:
          break;
      }
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    const bool read = file.ReadAll(bytes.get());
    const bool verified = read && CheckPackageBytes(*bytes, key);
    // The outcome belongs to the identity only when the file kept it while
    // it was read.
    *changed = !file.Unchanged();
    if (use_cache) {
      if (*changed || !read)
        cache.Forget(path);
      else
        cache.Remember(path, file.identity(), started, verified ? bytes : nullptr);
    }
    if (!verified) return false;
    bytes_ = std::move(bytes);
    return SplitPackage(bytes_->data(), bytes_->size(), &parts_);
  }

  PackageBytes bytes_;
  PackageParts parts_;
};

bool VerifyPackageFile(const std::string& path, const PackagePublicKey* key) {
  CheckedPackage package;
  return package.Open(path, key);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  CheckedPackage package;
  if (!package.Open(path, nullptr)) return false;
  std::vector<uint8_t> entry;
  UnzipHelper unzip(package.parts().archive, package.parts().archive_length);
  if (!unzip.UnzipToMemory(entry_name, &entry)) return false;
  *bytes = std::move(entry);
  return true;
}

void ForgetVerifiedPackages() { VerifiedPackageCache::Global().Clear(); }

}  // namespace vesk
