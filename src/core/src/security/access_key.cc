#include "vesk/core/security/access_key.h"

#include <glib.h>
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

namespace {

constexpr gunichar kReplacement = 0xFFFD;

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendCodePoint(gunichar c, std::u16string* units) {
  if (c < 0x10000) {
    units->push_back(static_cast<char16_t>(c));
  } else {
    units->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    units->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
}

std::optional<char16_t> HexUnit(std::string_view digits) {
  if (digits.size() != 4) return std::nullopt;
  unsigned value = 0;
  for (const char digit : digits) {
    const int nibble = g_ascii_xdigit_value(digit);
    if (nibble < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(nibble);
  }
  return static_cast<char16_t>(value);
}

std::optional<char16_t> SimpleEscape(char c) {
  switch (c) {
    case '"':
    case '\\':
    case '/':
      return c;
    case 'b':
      return u'\b';
    case 'f':
      return u'\f';
    case 'n':
      return u'\n';
    case 'r':
      return u'\r';
    case 't':
      return u'\t';
    default:
      return std::nullopt;
  }
}

// The literal's UTF-16 code units, as the script string held them.
std::optional<std::u16string> UnitsOfJsonString(std::string_view json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
  const std::string_view body = json.substr(1, json.size() - 2);
  std::u16string units;
  size_t i = 0;
  while (i < body.size()) {
    const auto c = static_cast<unsigned char>(body[i]);
    if (c == '\\') {
      if (i + 1 >= body.size()) return std::nullopt;
      if (body[i + 1] == 'u') {
        const auto unit = HexUnit(body.substr(i + 2, 4));
        if (!unit) return std::nullopt;
        units.push_back(*unit);
        i += 6;
      } else {
        const auto unit = SimpleEscape(body[i + 1]);
        if (!unit) return std::nullopt;
        units.push_back(*unit);
        i += 2;
      }
    } else if (c == '"') {
      return std::nullopt;  // the literal ended early
    } else if (c < 0x80) {
      units.push_back(c);
      ++i;
    } else {
      const gunichar decoded =
          g_utf8_get_char_validated(body.data() + i, static_cast<gssize>(body.size() - i));
      const bool valid = decoded < 0x110000;
      AppendCodePoint(valid ? decoded : kReplacement, &units);
      i += valid ? static_cast<size_t>(g_utf8_skip[c]) : 1;
    }
  }
  return units;
}

}  // namespace

std::optional<std::string> TextFromJsonString(std::string_view json) {
  const auto units = UnitsOfJsonString(json);
  if (!units) return std::nullopt;
  std::string text;
  text.reserve(units->size());
  for (size_t i = 0; i < units->size(); ++i) {
    const char16_t unit = (*units)[i];
    gunichar c = unit;
    if (IsHigh(unit) && i + 1 < units->size() && IsLow((*units)[i + 1])) {
      c = 0x10000 + ((static_cast<gunichar>(unit) - 0xD800) << 10) + ((*units)[i + 1] - 0xDC00);
      ++i;
    } else if (IsHigh(unit) || IsLow(unit)) {
      c = kReplacement;
    }
    char utf8[6];
    text.append(utf8, static_cast<size_t>(g_unichar_to_utf8(c, utf8)));
  }
  return text;
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
