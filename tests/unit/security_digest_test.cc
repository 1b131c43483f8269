// MD5 state machine, CRC-32, zlib compression with its retry, GUIDs.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <regex>
#include <set>

#include "vesk/core/security/checksums.h"
#include "vesk/core/security/guid.h"
#include "vesk/core/security/md5_digest.h"

namespace vesk::security {
namespace {

std::string Md5Hex(std::string_view data) {
  unsigned char digest[16];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
  return hex;
}

std::string PseudoRandom(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return out;
}

std::string Md5Padding(uint64_t length) {
  std::string pad(1, '\x80');
  pad.append((55 - length % 64 + 64) % 64, '\0');
  for (int i = 0; i < 8; ++i) pad.push_back(static_cast<char>((length * 8) >> (8 * i)));
  return pad;
}

TEST(SecurityMd5, Rfc1321Suite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& [text, digest] : cases) {
    Md5Digest md5;
    md5.Append(text);
    md5.Complete();
    EXPECT_EQ(md5.Result(), digest) << text;
  }
}

TEST(SecurityMd5, States) {
  Md5Digest md5;
  EXPECT_EQ(md5.state(), Md5Digest::kNew);
  EXPECT_FALSE(md5.Result());
  md5.Append("");
  EXPECT_EQ(md5.state(), Md5Digest::kAppended);
  EXPECT_FALSE(md5.Result());
  md5.Complete();
  EXPECT_EQ(md5.state(), Md5Digest::kCompleted);
  EXPECT_EQ(md5.Result(), "D41D8CD98F00B204E9800998ECF8427E");
  md5.Reset();
  EXPECT_EQ(md5.state(), Md5Digest::kNew);
  EXPECT_FALSE(md5.Result());
}

TEST(SecurityMd5, AppendAfterCompleteContinuesFromTheFinishedContext) {
  // Whatever the first message's length, the continued digest covers the
  // message, its padding and length, then the rest.
  for (const size_t first_length : {0u, 3u, 55u, 56u, 63u, 64u, 119u, 70000u}) {
    const std::string first = PseudoRandom(first_length, 1);
    Md5Digest md5;
    md5.Append(first);
    md5.Complete();
    EXPECT_EQ(md5.Result(), Md5Hex(first));
    md5.Append("def");
    md5.Complete();
    EXPECT_EQ(md5.Result(), Md5Hex(first + Md5Padding(first_length) + "def")) << first_length;
  }
}

TEST(SecurityMd5, PiecesEqualOneAppendBeyondTheChunkSize) {
  const std::string data = PseudoRandom(3 * Md5Digest::kChunk + 17, 9);
  Md5Digest once, pieces;
  once.Append(data);
  for (size_t i = 0; i < data.size(); i += 4093) pieces.Append(std::string_view(data).substr(i, 4093));
  once.Complete();
  pieces.Complete();
  EXPECT_EQ(once.Result(), Md5Hex(data));
  EXPECT_EQ(pieces.Result(), Md5Hex(data));
}

TEST(SecurityCrc32, IeeeValuesAndChunking) {
  EXPECT_EQ(FormatCrc32(Crc32("abc")), "352441C2");
  EXPECT_EQ(FormatCrc32(Crc32("123456789")), "CBF43926");
  EXPECT_EQ(FormatCrc32(Crc32(std::string(1, '\0'))), "D202EF8D");
  EXPECT_EQ(FormatCrc32(0x1), "00000001");
  // Over the 1 MiB chunk boundary: the same as one zlib call.
  const std::string data = PseudoRandom((size_t{1} << 20) * 2 + 5, 4);
  EXPECT_EQ(Crc32(data), static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                     static_cast<uInt>(data.size()))));
}

std::string Inflate(const std::string& compressed, size_t expected_size) {
  std::string out(expected_size + 1, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(compressed.data()),
                 static_cast<uLong>(compressed.size())) != Z_OK)
    return "inflate failed";
  out.resize(length);
  return out;
}

TEST(SecurityZlib, EmptyInputIsTheEightByteStream) {
  EXPECT_EQ(ZlibCompress(""), std::string("\x78\xDA\x03\x00\x00\x00\x00\x01", 8));
  EXPECT_EQ(ZlibCapacityEstimate(0), 13u);
  EXPECT_EQ(ZlibCapacityEstimate(100), 114u);
  EXPECT_EQ(ZlibCapacityEstimate(1000000), 1010013u);
}

TEST(SecurityZlib, OutputInflatesBack) {
  for (const std::string& data : {std::string("abc"), std::string(100000, 'v'), PseudoRandom(1, 2),
                                  PseudoRandom(300, 5), PseudoRandom(200000, 6)}) {
    int attempts = 0;
    const auto compressed = ZlibCompress(data, std::nullopt, &attempts);
    ASSERT_TRUE(compressed);
    EXPECT_EQ(attempts, 1) << "the estimate fits, size " << data.size();
    EXPECT_EQ(compressed->substr(0, 2), "\x78\xDA");
    EXPECT_EQ(Inflate(*compressed, data.size()), data);
  }
}

TEST(SecurityZlib, TooSmallCapacityGrowsAndRetries) {
  const std::string data = PseudoRandom(150000, 8);  // incompressible
  int attempts = 0;
  const auto compressed = ZlibCompress(data, size_t{10}, &attempts);
  ASSERT_TRUE(compressed);
  EXPECT_EQ(attempts, 4) << "10 + 3 * 65536 is the first capacity that holds 150000 random bytes";
  EXPECT_EQ(Inflate(*compressed, data.size()), data);
  EXPECT_EQ(*compressed, *ZlibCompress(data)) << "a retry starts over: same stream";
}

TEST(SecurityGuid, LowerCaseCanonicalAndDistinct) {
  const std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const auto guid = CreateGuid();
    ASSERT_TRUE(guid);
    EXPECT_TRUE(std::regex_match(*guid, form)) << *guid;
    seen.insert(*guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace vesk::security
