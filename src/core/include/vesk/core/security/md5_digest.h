// An MD5 digest (RFC 1321) that a page fills piece by piece.
//
// State: 0 new or reset, 1 data appended, 2 completed. Completing does not
// reset: the context goes on from where the finished digest left it (the
// message, its padding and its length), so appending after Complete and
// completing again digests message || padding || more. Reset starts over.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::security {

class Md5Digest {
 public:
  enum State { kNew = 0, kAppended = 1, kCompleted = 2 };
  static constexpr size_t kChunk = 65535;

  Md5Digest();
  ~Md5Digest();
  Md5Digest(const Md5Digest&) = delete;
  Md5Digest& operator=(const Md5Digest&) = delete;

  // Feeds |bytes| in chunks of at most kChunk bytes; the state becomes 1
  // also for no bytes.
  void Append(std::string_view bytes);
  // Finishes the digest over everything so far; the state becomes 2.
  void Complete();
  void Reset();

  State state() const { return state_; }
  // 32 upper-case hexadecimal digits, or nothing unless completed.
  std::optional<std::string> Result() const;

 private:
  void Update(const void* data, size_t size);

  EVP_MD_CTX* ctx_;
  State state_ = kNew;
  uint64_t byte_count_ = 0;  // everything fed, padding included
  std::array<uint8_t, 16> digest_{};
};

}  // namespace vesk::security
