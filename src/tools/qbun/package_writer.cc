#include "package_writer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

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

}  // namespace

bool CollectDirectory(const std::string& dir, std::vector<ArchiveFile>* files, std::string* error) {
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
                                     const std::vector<uint8_t>& archive) {
  std::vector<uint8_t> package(kPackageHeaderSize + stored_signature.size() + archive.size());
  auto put = [&package](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) package[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(0, kPackageMagic);
  put(4, 0);
  put(8, 0);
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
