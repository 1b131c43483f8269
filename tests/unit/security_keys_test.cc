// Byte strings, key material, session-key wrapping (unwrapped with the
// build's development private key) and access keys (decrypted with OpenSSL).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <memory>
#include <set>

#include "vesk/core/base64.h"
#include "vesk/core/security/access_key.h"
#include "vesk/core/security/byte_string.h"
#include "vesk/core/security/session_key.h"

namespace vesk::security {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(SecurityByteString, LowEightBitsOfEachUtf16Unit) {
  EXPECT_EQ(ByteStringFromUtf8("abc").bytes, "abc");
  // U+00E9 is one unit 0xE9; U+0161 keeps its low byte 0x61; U+1F600 is the
  // surrogate pair D83D DE00.
  auto r = ByteStringFromUtf8("\xC3\xA9\xC5\xA1\xF0\x9F\x98\x80");
  EXPECT_EQ(r.bytes, Bytes({0xE9, 0x61, 0x3D, 0x00}));
  EXPECT_EQ(r.wide_units, 3u);
  EXPECT_EQ(r.first_wide_index, 1u);
  // A lone surrogate as the engine writes it (ED A0 80 = U+D800).
  EXPECT_EQ(ByteStringFromUtf8("\xED\xA0\x80").bytes, Bytes({0x00}));
  // NUL bytes are data.
  EXPECT_EQ(ByteStringFromUtf8(std::string_view("a\0b", 3)).bytes, std::string("a\0b", 3));
}

TEST(SecurityByteString, XUserDefinedUnitsAreCountedApart) {
  // U+F780 and U+F7FF (EF 9E 80, EF 9F BF) are the bytes 0x80 and 0xFF of
  // x-user-defined text; U+F800 and U+F6FF are not.
  const auto r = ByteStringFromUtf8("A\xEF\x9E\x80\xEF\x9F\xBF\xEF\xA0\x80\xEF\x9B\xBF");
  EXPECT_EQ(r.bytes, Bytes({0x41, 0x80, 0xFF, 0x00, 0xFF}));
  EXPECT_EQ(r.wide_units, 4u);
  EXPECT_EQ(r.private_range_units, 2u);
}

TEST(SecurityByteString, MalformedUtf8NeverOverrunsAndCountsAsReplacement) {
  // Truncated sequences, stray continuations, overlong forms, out of range.
  for (const std::string_view text :
       {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "\x80", "\xC0\xAF", "\xF4\x90\x80\x80"}) {
    const auto r = ByteStringFromUtf8(text);
    EXPECT_EQ(r.bytes.size(), text.size()) << "one U+FFFD per bad byte";
    for (const char c : r.bytes) EXPECT_EQ(static_cast<unsigned char>(c), 0xFD);
  }
}

TEST(SecurityByteString, EveryByteRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string utf8 = ByteStringToUtf8(all);
  EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
  const auto back = ByteStringFromUtf8(utf8);
  EXPECT_EQ(back.bytes, all);
  EXPECT_EQ(back.wide_units, 0u);
}

TEST(SecurityKeys, KeyMaterialIsLittleEndianSigned32) {
  const KeyNumbers numbers{0x01020304, -2, 2147483647, INT32_MIN, 5, 6, 7, 8};
  const auto material = KeyMaterial(numbers);
  EXPECT_EQ(material[0], 0x04);
  EXPECT_EQ(material[3], 0x01);
  for (int i = 5; i < 8; ++i) EXPECT_EQ(material[i], 0xFF);  // -2 = FE FF FF FF
  EXPECT_EQ(material[4], 0xFE);
  EXPECT_EQ(material[12 + 3], 0x80);
  EXPECT_EQ(material[28], 8);
  const SessionKey key = SessionKeyFromNumbers(numbers);
  EXPECT_TRUE(std::equal(key.begin(), key.end(), material.begin()));
  KeyNumbers other_tail = numbers;
  other_tail[4] = 99;
  other_tail[7] = -99;
  EXPECT_EQ(SessionKeyFromNumbers(other_tail), key);
}

TEST(SecurityKeys, BlobLayoutIsChecked) {
  const auto& blob = SessionKeyWrapper::EmbeddedBlob();
  ASSERT_EQ(blob.size(), kSessionKeyBlobSize);
  EXPECT_NE(SessionKeyWrapper::FromBlob(blob.data(), blob.size()), nullptr);
  EXPECT_EQ(SessionKeyWrapper::FromBlob(blob.data(), blob.size() - 1), nullptr);
  for (const size_t offset : {0u, 1u, 5u, 8u, 13u, 16u}) {
    auto bad = blob;
    bad[offset] ^= 0x01;
    EXPECT_EQ(SessionKeyWrapper::FromBlob(bad.data(), bad.size()), nullptr) << "offset " << offset;
  }
  auto small_modulus = blob;
  small_modulus[kSessionKeyBlobSize - 1] = 0;  // top byte: no longer 1024 bits
  EXPECT_EQ(SessionKeyWrapper::FromBlob(small_modulus.data(), small_modulus.size()), nullptr);
}

std::string Unwrap(const std::string& wrapped_base64) {
  FILE* file = std::fopen(VESK_TEST_SESSION_PRIVATE_KEY, "rb");
  if (!file) return "no private key";
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  const auto cipher = Base64Decode(wrapped_base64);
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                  &EVP_PKEY_CTX_free);
  EVP_PKEY_free(key);
  std::string plain(256, '\0');
  size_t length = plain.size();
  if (!cipher || !ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &length,
                       reinterpret_cast<const unsigned char*>(cipher->data()), cipher->size()) != 1)
    return "decryption failed";
  plain.resize(length);
  return plain;
}

TEST(SecurityKeys, WrappedKeyUnwrapsWithTheDevelopmentKey) {
  if (std::string(VESK_TEST_SESSION_PRIVATE_KEY).empty()) GTEST_SKIP() << "built with a release session key";
  const SessionKey key = SessionKeyFromNumbers({1, -1, 0x7F00FF00, 4, 0, 0, 0, 0});
  std::set<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    const auto wrapped = WrapSessionKey(key);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->size(), 172u);
    EXPECT_EQ(wrapped->back(), '=');
    EXPECT_NE((*wrapped)[170], '=');
    EXPECT_EQ(Unwrap(*wrapped), std::string(key.begin(), key.end()));
    seen.insert(*wrapped);
  }
  EXPECT_EQ(seen.size(), 3u) << "PKCS #1 v1.5 padding is random";
}

std::string Decrypt(const SessionKey& key, const AccessKeyIv& iv, const std::string& cipher) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  std::string plain(cipher.size() + 16, '\0');
  int a = 0, b = 0;
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1 ||
      EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &a,
                        reinterpret_cast<const unsigned char*>(cipher.data()),
                        static_cast<int>(cipher.size())) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + a, &b) != 1)
    return "bad padding";
  plain.resize(static_cast<size_t>(a + b));
  return plain;
}

TEST(SecurityAccessKey, Pkcs7PaddedAesCbcDecryptsBack) {
  const SessionKey key = SessionKeyFromNumbers({11, 22, 33, 44, 0, 0, 0, 0});
  const AccessKeyIv iv = BuiltInAccessKeyIv();
  for (const std::string& text :
       {std::string(), std::string(15, 'a'), std::string(16, 'b'), std::string(17, 'c'),
        std::string("h\xC3\xA9llo \xE4\xB8\xAD"), std::string("nul\0in", 6)}) {
    const std::string cipher = EncryptAccessKey(key, iv, text);
    EXPECT_EQ(cipher.size(), (text.size() / 16 + 1) * 16) << text;
    EXPECT_EQ(Decrypt(key, iv, cipher), text);
  }
}

TEST(SecurityAccessKey, Base64UrlWithoutPadding) {
  EXPECT_EQ(Base64UrlEncodeNoPadding(""), "");
  EXPECT_EQ(Base64UrlEncodeNoPadding("f"), "Zg");
  EXPECT_EQ(Base64UrlEncodeNoPadding("fo"), "Zm8");
  EXPECT_EQ(Base64UrlEncodeNoPadding("foo"), "Zm9v");
  EXPECT_EQ(Base64UrlEncodeNoPadding(Bytes({0xFB, 0xFF, 0xBF})), "-_-_");
  EXPECT_EQ(Base64UrlEncodeNoPadding(std::string(16, '\xFF')).size(), 22u);
}

}  // namespace
}  // namespace vesk::security

TEST(SecurityAccessKey, UnpairedSurrogatesBecomeReplacementCharacters) {
  using vesk::security::TextFromJsonString;
  const std::string replacement = "\xEF\xBF\xBD";
  // As the engine writes a string with lone surrogates in JSON.
  EXPECT_EQ(TextFromJsonString(R"("a\ud800b\udc00c")"), "a" + replacement + "b" + replacement + "c");
  EXPECT_EQ(TextFromJsonString(R"("\udc00\ud800")"), replacement + replacement);  // low before high
  EXPECT_EQ(TextFromJsonString(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");         // an escaped pair joins
  // Raw characters, escapes and NUL come through as the string held them.
  EXPECT_EQ(TextFromJsonString("\"x\xC3\xA9\xF0\x9F\x98\x80\""), "x\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(TextFromJsonString(R"("\"\\\/\b\f\n\r\t\u0000\u001f")"),
            std::string("\"\\/\b\f\n\r\t\0\x1f", 10));
  // A stray byte becomes one U+FFFD.
  EXPECT_EQ(TextFromJsonString("\"\x80z\""), replacement + "z");
  // Not one JSON string literal.
  for (const char* bad : {"", "\"", "x", R"("\u12")", R"("\x")", R"("a"b")", "\"a\\\""})
    EXPECT_FALSE(TextFromJsonString(bad)) << bad;
}
