// RSA public keys in the public-key blob layout the program embeds: type 6,
// version 2, two zero bytes, the key algorithm, "RSA1", the bit length and
// the exponent (each 32-bit little-endian), then the modulus least
// significant byte first.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>

namespace vesk {

inline constexpr uint32_t kBlobAlgorithmRsaSign = 0x2400;
inline constexpr uint32_t kBlobAlgorithmRsaKeyExchange = 0xA400;
inline constexpr size_t kRsaBlobHeaderSize = 20;

constexpr size_t RsaBlobSize(uint32_t modulus_bits) { return kRsaBlobHeaderSize + modulus_bits / 8; }

// The key of a blob of exactly RsaBlobSize(|modulus_bits|) bytes with the
// given algorithm, a full-length modulus and an odd exponent of 3 or more;
// null otherwise. The caller frees it with EVP_PKEY_free.
EVP_PKEY* RsaPublicKeyFromBlob(const uint8_t* blob, size_t size, uint32_t algorithm, uint32_t modulus_bits);

uint32_t ReadLittleEndian32(const uint8_t* bytes);
void WriteLittleEndian32(uint32_t value, uint8_t* bytes);

}  // namespace vesk
