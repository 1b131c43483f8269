// Producing packages: a ZIP archive of files, signed with the private half of
// the package key. The program itself never writes packages.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk::qbun {

struct ArchiveFile {
  std::string name;  // '/' separated, no leading '/'
  std::vector<uint8_t> data;
  bool deflate = true;
};

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PrivateKey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// Every regular file below |dir|, by relative name in byte order. Fails on
// symbolic links, names the reader could never find (255 bytes or more) and
// files beyond the reader's entry limit.
bool CollectDirectory(const std::string& dir, std::vector<ArchiveFile>* files, std::string* error);

// A ZIP archive of |files| in the given order (duplicates are kept), with a
// fixed time stamp so equal inputs give equal archives.
bool BuildArchive(const std::vector<ArchiveFile>& files, std::vector<uint8_t>* archive, std::string* error);

PrivateKey LoadPrivateKey(const std::string& pem_path, std::string* error);

// PKCS #1 v1.5 signature over SHA-1 of |archive|, least significant byte
// first as packages store it.
bool SignArchive(EVP_PKEY* key, const std::vector<uint8_t>& archive, std::vector<uint8_t>* stored_signature,
                 std::string* error);

// "QBUN", version 0, 0, signature length, signature, archive.
std::vector<uint8_t> AssemblePackage(const std::vector<uint8_t>& stored_signature,
                                     const std::vector<uint8_t>& archive);

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace vesk::qbun
