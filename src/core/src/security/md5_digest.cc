#include "vesk/core/security/md5_digest.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace vesk::security {

Md5Digest::Md5Digest() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::bad_alloc();
  }
}

Md5Digest::~Md5Digest() { EVP_MD_CTX_free(ctx_); }

void Md5Digest::Update(const void* data, size_t size) {
  if (EVP_DigestUpdate(ctx_, data, size) != 1) throw std::bad_alloc();
  byte_count_ += size;
}

void Md5Digest::Append(std::string_view bytes) {
  state_ = kAppended;
  for (size_t done = 0; done < bytes.size(); done += kChunk)
    Update(bytes.data() + done, std::min(kChunk, bytes.size() - done));
}

void Md5Digest::Complete() {
  // The digest comes from a copy; the padding and length then go into the
  // live context so that later appends continue from the finished state,
  // as a context that pads in place would.
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned int length = 0;
  const bool ok =
      copy && EVP_MD_CTX_copy_ex(copy, ctx_) == 1 && EVP_DigestFinal_ex(copy, digest_.data(), &length) == 1;
  EVP_MD_CTX_free(copy);
  if (!ok || length != digest_.size()) throw std::bad_alloc();
  const uint64_t bits = byte_count_ * 8;
  uint8_t padding[72] = {0x80};
  const size_t used = byte_count_ % 64;
  const size_t zeros_end = used < 56 ? 56 - used : 120 - used;
  for (size_t i = 0; i < 8; ++i) padding[zeros_end + i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(padding, zeros_end + 8);
  state_ = kCompleted;
}

void Md5Digest::Reset() {
  if (EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) != 1) throw std::bad_alloc();
  byte_count_ = 0;
  digest_ = {};
  state_ = kNew;
}

std::optional<std::string> Md5Digest::Result() const {
  if (state_ != kCompleted) return std::nullopt;
  std::string text;
  text.reserve(32);
  char pair[3];
  for (const uint8_t byte : digest_) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

}  // namespace vesk::security
