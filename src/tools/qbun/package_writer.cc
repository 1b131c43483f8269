#include "package_writer.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "vesk/core/package/mime_types.h"
#include "vesk/core/package/package_file.h"
#include "vesk/core/package/unzip_helper.h"

namespace vesk::qbun {
namespace {

struct MemoryOut {
  std::vector<uint8_t> data;
  uint64_t position = 0;
};

// Memory I/O for the archive writer, which seeks back to patch headers.
voidpf OpenOut(voidpf opaque, const void*, int) { return opaque; }
uLong ReadOut(voidpf, voidpf, void*, uLong) { return 0; }
uLong WriteOut(voidpf, voidpf stream, const void* buffer, uLong size) {
  auto* out = static_cast<MemoryOut*>(stream);
  if (out->position + size > out->data.size()) out->data.resize(out->position + size);
  std::memcpy(out->data.data() + out->position, buffer, size);
  out->position += size;
  return size;
}
ZPOS64_T TellOut(voidpf, voidpf stream) { return static_cast<MemoryOut*>(stream)->position; }
long SeekOut(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* out = static_cast<MemoryOut*>(stream);
  const uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                        : origin == ZLIB_FILEFUNC_SEEK_CUR ? out->position
                                                           : out->data.size();
  if (base + offset > out->data.size()) return -1;
  out->position = base + offset;
  return 0;
}
int CloseOut(voidpf, voidpf) { return 0; }
int ErrorOut(voidpf, voidpf) { return 0; }

std::string OpenSslError() {
  char text[256] = "unknown error";
  if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof(text));
  ERR_clear_error();
  return text;
}

// Dotfiles and dot-directories, excluded patterns, skipped files.
bool IsLeftOut(const std::filesystem::path& relative, const std::filesystem::path& full,
               const CollectOptions& options) {
  const std::string name = relative.generic_string();
  for (const auto& component : relative)
    if (component.string().starts_with(".")) return true;
  for (const std::string& pattern : options.excludes) {
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_PATHNAME) == 0) return true;
    for (const auto& component : relative)
      if (fnmatch(pattern.c_str(), component.c_str(), 0) == 0) return true;
  }
  std::error_code ec;
  for (const std::string& skip : options.skip_paths)
    if (std::filesystem::equivalent(full, skip, ec)) return true;
  return false;
}

}  // namespace

std::vector<std::string> NameWarnings(const std::string& name) {
  std::vector<std::string> warnings;
  const bool unaddressable = std::any_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte >= 0x7f || c == '%' || c == '?' || c == '#';
  });
  if (unaddressable)
    warnings.push_back(name +
                       ": a page cannot address this name (space, \"%\", \"?\", \"#\" or non-ASCII; "
                       "vesk:// URLs are not percent-decoded)");
  const std::string_view extension = ExtensionOfPath(name);
  if (std::string_view(MimeTypeForExtension(extension)) == "text/plain" && extension != "txt" &&
      extension != "text" && name != "version.dat")
    warnings.push_back(
        name + ": will be served as text/plain" +
        (extension.empty() ? std::string(" (no extension)") : " (." + std::string(extension) + ")"));
  return warnings;
}

bool CollectDirectory(const std::string& dir, std::vector<ArchiveFile>* files, std::string* error) {
  return CollectDirectory(dir, CollectOptions(), files, error);
}

bool CollectDirectory(const std::string& dir, const CollectOptions& options, std::vector<ArchiveFile>* files,
                      std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = dir + " is not a directory";
    return false;
  }
  std::vector<std::string> names;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(dir);
    if (IsLeftOut(relative, it->path(), options)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink(ec)) {
      *error = "symbolic links are not packed: " + relative.generic_string();
      return false;
    }
    if (!it->is_regular_file(ec)) continue;
    names.push_back(relative.generic_string());
  }
  if (ec) {
    *error = "cannot read " + dir + ": " + ec.message();
    return false;
  }
  std::sort(names.begin(), names.end());
  files->clear();
  for (const std::string& name : names) {
    if (name.size() > UnzipHelper::kMaxNameLength) {
      *error = "name too long for a package: " + name;
      return false;
    }
    const fs::path path = fs::path(dir) / name;
    const auto size = fs::file_size(path, ec);
    if (ec || size > UnzipHelper::kMaxEntryBytes) {
      *error = "cannot pack " + path.string() + (ec ? ": " + ec.message() : ": too large");
      return false;
    }
    std::ifstream in(path, std::ios::binary);
    ArchiveFile file{name, std::vector<uint8_t>(size), true};
    if (size > 0 && !in.read(reinterpret_cast<char*>(file.data.data()), static_cast<std::streamsize>(size))) {
      *error = "cannot read " + path.string();
      return false;
    }
    files->push_back(std::move(file));
  }
  return true;
}

bool BuildArchive(const std::vector<ArchiveFile>& files, std::vector<uint8_t>* archive, std::string* error) {
  MemoryOut out;
  zlib_filefunc64_def io{};
  io.zopen64_file = &OpenOut;
  io.zread_file = &ReadOut;
  io.zwrite_file = &WriteOut;
  io.ztell64_file = &TellOut;
  io.zseek64_file = &SeekOut;
  io.zclose_file = &CloseOut;
  io.zerror_file = &ErrorOut;
  io.opaque = &out;
  zipFile zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &io);
  if (!zip) {
    *error = "cannot start the archive";
    return false;
  }
  bool ok = true;
  for (const ArchiveFile& file : files) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2000;
    info.tmz_date.tm_mday = 1;
    const int method = file.deflate ? Z_DEFLATED : 0;
    if (zipOpenNewFileInZip3_64(zip, file.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                Z_BEST_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                0) != ZIP_OK) {
      ok = false;
    }
    size_t done = 0;
    while (ok && done < file.data.size()) {
      const unsigned chunk = static_cast<unsigned>(std::min<size_t>(file.data.size() - done, 1u << 20));
      ok = zipWriteInFileInZip(zip, file.data.data() + done, chunk) == ZIP_OK;
      done += chunk;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    if (!ok) {
      *error = "cannot add " + file.name + " to the archive";
      break;
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK && ok) {
    *error = "cannot finish the archive";
    ok = false;
  }
  if (ok) *archive = std::move(out.data);
  return ok;
}

PrivateKey LoadPrivateKey(const std::string& pem_path, std::string* error) {
  FILE* file = std::fopen(pem_path.c_str(), "rb");
  if (!file) {
    *error = "cannot open " + pem_path;
    return nullptr;
  }
  PrivateKey key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
    *error = pem_path + " holds no RSA private key: " + OpenSslError();
    return nullptr;
  }
  return key;
}

bool CheckSigningKey(EVP_PKEY* key, std::string* error) {
  BIGNUM* exponent = nullptr;
  const bool rsa = EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA;
  const int bits = rsa ? EVP_PKEY_get_bits(key) : 0;
  const bool exponent_fits =
      rsa && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent) == 1 && BN_num_bits(exponent) <= 32;
  BN_free(exponent);
  if (!rsa || bits != 2048 || !exponent_fits) {
    *error = "the program can only verify with a 2048-bit RSA key whose exponent fits 32 bits; this key is " +
             (rsa ? std::to_string(bits) + "-bit RSA" + (exponent_fits ? "" : " with a larger exponent")
                  : std::string("not RSA")) +
             " (make one with: qbun keygen DIR)";
    return false;
  }
  return true;
}

bool GenerateKeyPair(const std::string& private_path, const std::string& public_path, std::string* error) {
  PrivateKey key(EVP_RSA_gen(2048));
  if (!key) {
    *error = "cannot generate the key: " + OpenSslError();
    return false;
  }
  // O_EXCL: an existing key is never replaced, whatever its owner meant.
  const int fd = ::open(private_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + private_path + ": " + std::strerror(errno);
    return false;
  }
  FILE* out = ::fdopen(fd, "w");
  if (!out) ::close(fd);
  bool ok = out && PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    *error = "cannot write " + private_path;
    std::remove(private_path.c_str());
    return false;
  }
  const int public_fd = ::open(public_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  FILE* public_out = public_fd >= 0 ? ::fdopen(public_fd, "w") : nullptr;
  if (public_fd >= 0 && !public_out) ::close(public_fd);
  ok = public_out && PEM_write_PUBKEY(public_out, key.get()) == 1;
  if (public_out) ok = std::fclose(public_out) == 0 && ok;
  if (!ok) {
    *error = "cannot write " + public_path + (public_fd < 0 ? std::string(": ") + std::strerror(errno) : "");
    if (public_fd >= 0) std::remove(public_path.c_str());
    std::remove(private_path.c_str());
    return false;
  }
  return true;
}

bool SignArchive(EVP_PKEY* key, const std::vector<uint8_t>& archive, std::vector<uint8_t>* stored_signature,
                 std::string* error) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  size_t length = 0;
  bool ok = ctx && EVP_DigestSignInit(ctx, &pctx, EVP_sha1(), nullptr, key) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
            EVP_DigestSign(ctx, nullptr, &length, archive.data(), archive.size()) == 1;
  std::vector<uint8_t> signature(length);
  ok = ok && EVP_DigestSign(ctx, signature.data(), &length, archive.data(), archive.size()) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) {
    *error = "signing failed: " + OpenSslError();
    return false;
  }
  signature.resize(length);
  std::reverse(signature.begin(), signature.end());
  *stored_signature = std::move(signature);
  return true;
}

std::vector<uint8_t> AssemblePackage(const std::vector<uint8_t>& stored_signature,
                                     const std::vector<uint8_t>& archive,
                                     const std::vector<uint8_t>& key_id) {
  std::vector<uint8_t> package(kPackageHeaderSize + stored_signature.size() + archive.size());
  auto put = [&package](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) package[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(0, kPackageMagic);
  put(4, 0);
  put(8, 0);
  for (size_t i = 0; i < key_id.size() && i < 4; ++i) package[8 + i] = key_id[i];
  put(12, static_cast<uint32_t>(stored_signature.size()));
  if (!stored_signature.empty())
    std::memcpy(package.data() + kPackageHeaderSize, stored_signature.data(), stored_signature.size());
  if (!archive.empty())
    std::memcpy(package.data() + kPackageHeaderSize + stored_signature.size(), archive.data(),
                archive.size());
  return package;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      *error = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace vesk::qbun
