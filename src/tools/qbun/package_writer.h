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

// What a directory's packing leaves out besides dotfiles.
struct CollectOptions {
  // Shell patterns (fnmatch) matched against the relative name and against
  // each of its components: "*.map", "drafts", "docs/*".
  std::vector<std::string> excludes;
  // Files never packed, by path (the package being written, say).
  std::vector<std::string> skip_paths;
};

// Every regular file below |dir|, by relative name in byte order, except
// names with a component that begins with "." (editor and VCS files), the
// excluded ones and the skipped paths. Fails on symbolic links, names the
// reader could never find (255 bytes or more) and files beyond the reader's
// entry limit.
bool CollectDirectory(const std::string& dir, const CollectOptions& options, std::vector<ArchiveFile>* files,
                      std::string* error);
bool CollectDirectory(const std::string& dir, std::vector<ArchiveFile>* files, std::string* error);

// What a page would get wrong about a packed name: names a vesk:// URL cannot
// reach (the scheme does no percent-decoding, so a space, "%", "?", "#" or a
// byte beyond ASCII never matches) and extensions served as text/plain.
std::vector<std::string> NameWarnings(const std::string& name);

// A ZIP archive of |files| in the given order (duplicates are kept), with a
// fixed time stamp so equal inputs give equal archives.
bool BuildArchive(const std::vector<ArchiveFile>& files, std::vector<uint8_t>* archive, std::string* error);

PrivateKey LoadPrivateKey(const std::string& pem_path, std::string* error);
// Whether the program could verify with this key's public half: RSA, 2048
// bits, a public exponent of at most 32 bits.
bool CheckSigningKey(EVP_PKEY* key, std::string* error);
// A fresh 2048-bit RSA pair (exponent 65537): the private key in PKCS #8 PEM
// with mode 0600, the public key in PEM. Never overwrites a file.
bool GenerateKeyPair(const std::string& private_path, const std::string& public_path, std::string* error);

// PKCS #1 v1.5 signature over SHA-1 of |archive|, least significant byte
// first as packages store it.
bool SignArchive(EVP_PKEY* key, const std::vector<uint8_t>& archive, std::vector<uint8_t>* stored_signature,
                 std::string* error);

// "QBUN", version 0, the signing key's id (four bytes, or zeros), signature
// length, signature, archive. Readers do not interpret the key id; the tool
// names the signing key with it when a package does not verify.
std::vector<uint8_t> AssemblePackage(const std::vector<uint8_t>& stored_signature,
                                     const std::vector<uint8_t>& archive,
                                     const std::vector<uint8_t>& key_id = {});

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace vesk::qbun
