#include "vesk/core/security/access_key.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "vesk/core/base64.h"

namespace vesk::security {
namespace {

constexpr uint32_t kIvWords[4] = {
#include "vesk_access_key_iv.inc"
};

}  // namespace

AccessKeyIv BuiltInAccessKeyIv() {
  AccessKeyIv iv{};
  for (size_t w = 0; w < 4; ++w)
    for (size_t b = 0; b < 4; ++b) iv[w * 4 + b] = static_cast<uint8_t>(kIvWords[w] >> (8 * b));
  return iv;
}

std::string EncryptAccessKey(const SessionKey& key, const AccessKeyIv& iv, std::string_view text) {
  // PKCS #7: p = 16 - (length mod 16), 1..16 bytes of value p.
  const size_t pad = 16 - text.size() % 16;
  std::string plain(text);
  plain.append(pad, static_cast<char>(pad));
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  std::string cipher(plain.size(), '\0');
  // The padding is ours (above); the cipher only chains whole blocks. With a
  // valid key and whole blocks these calls fail only when memory runs out.
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
    throw std::runtime_error("AES-128-CBC setup failed");
  // Whole-block chunks keep every length within the int OpenSSL takes.
  constexpr size_t kChunk = size_t{1} << 20;
  for (size_t done = 0; done < plain.size(); done += kChunk) {
    const size_t length = std::min(kChunk, plain.size() - done);
    int written = 0;
    if (EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(cipher.data() + done), &written,
                          reinterpret_cast<const unsigned char*>(plain.data() + done),
                          static_cast<int>(length)) != 1 ||
        static_cast<size_t>(written) != length)
      throw std::runtime_error("AES-128-CBC encryption failed");
  }
  return cipher;
}

std::string Base64UrlEncodeNoPadding(std::string_view bytes) {
  std::string text = Base64Encode(bytes);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '+')
      c = '-';
    else if (c == '/')
      c = '_';
  }
  return text;
}

}  // namespace vesk::security
