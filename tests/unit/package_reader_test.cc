// Package header, signature and entry extraction, on real files signed with
// this build's development key.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "package_test_util.h"
#include "vesk/core/package/package_public_key.h"
#include "vesk/core/package/unzip_helper.h"

namespace vesk {
namespace {

using testing::Archive;
using testing::Bytes;
using testing::LogCapture;
using testing::SignedPackage;
using testing::TempDir;
using testing::WriteBytes;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[offset + i];
  return value;
}

void PutLe32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<qbun::ArchiveFile> SampleFiles() {
  return {{"index.html", Bytes("<html>index</html>"), true},
          {"js/app.js", Bytes("var app = 1;"), true},
          {"img/blob.bin", RandomBytes(70000, 1), false},
          {"empty.txt", {}, true},
          {"Index.html", Bytes("capital"), true}};
}

class PackageReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_SIGNING_KEY();
    ForgetVerifiedPackages();
    path_ = dir_.File("main.qbun");
    package_ = SignedPackage(Archive(SampleFiles()));
  }
  bool Read(const std::string& name, std::vector<uint8_t>* bytes) {
    return ReadFileFromPackage(path_, name, bytes);
  }
  size_t SignatureLength() const { return Le32(package_, 12); }

  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> package_;
};

TEST_F(PackageReaderTest, ServesEntriesOfAValidPackage) {
  WriteBytes(path_, package_);
  EXPECT_EQ(256u, SignatureLength());
  EXPECT_TRUE(VerifyPackage(path_));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(Read("index.html", &bytes));
  EXPECT_EQ(Bytes("<html>index</html>"), bytes);
  ASSERT_TRUE(Read("img/blob.bin", &bytes));
  EXPECT_EQ(RandomBytes(70000, 1), bytes);
  // An empty entry is found and yields nothing.
  bytes = Bytes("stale");
  EXPECT_TRUE(Read("empty.txt", &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST_F(PackageReaderTest, EntryLookupIsExactAndLogsTheReaderCode) {
  WriteBytes(path_, package_);
  LogCapture log;
  std::vector<uint8_t> bytes = Bytes("kept");
  EXPECT_TRUE(Read("Index.html", &bytes));
  EXPECT_EQ(Bytes("capital"), bytes);
  bytes = Bytes("kept");
  EXPECT_FALSE(Read("INDEX.HTML", &bytes));
  EXPECT_FALSE(Read("/index.html", &bytes));
  EXPECT_FALSE(Read("", &bytes));
  EXPECT_EQ(Bytes("kept"), bytes) << "the output is replaced only on success";
  EXPECT_NE(std::string::npos, log.Text().find("Unzip INDEX.HTML to memory failed:1280"));
}

TEST_F(PackageReaderTest, FlippedByteAnywhereIsRejected) {
  const size_t signature_end = 16 + SignatureLength();
  const std::vector<size_t> positions = {16,
                                         16 + 100,
                                         signature_end - 1,
                                         signature_end,
                                         signature_end + 30,
                                         (signature_end + package_.size()) / 2,
                                         package_.size() - 1};
  for (size_t position : positions) {
    SCOPED_TRACE(position);
    std::vector<uint8_t> damaged = package_;
    damaged[position] ^= 0x01;
    WriteBytes(path_, damaged);
    LogCapture log;
    EXPECT_FALSE(VerifyPackage(path_));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(Read("index.html", &bytes));
    EXPECT_NE(std::string::npos, log.Text().find("CryptVerifySignature Failed "));
  }
}

TEST_F(PackageReaderTest, SignatureInPkcsByteOrderIsRejected) {
  std::vector<uint8_t> wrong_order = package_;
  std::reverse(wrong_order.begin() + 16, wrong_order.begin() + 16 + static_cast<long>(SignatureLength()));
  WriteBytes(path_, wrong_order);
  LogCapture log;
  EXPECT_FALSE(VerifyPackage(path_));
  EXPECT_NE(std::string::npos, log.Text().find("CryptVerifySignature Failed "));
}

TEST_F(PackageReaderTest, HeaderRulesInOrder) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
  };
  std::vector<uint8_t> bad_magic = package_;
  bad_magic[0] = 'P';
  std::vector<uint8_t> version_one = package_;
  PutLe32(&version_one, 4, 1);
  std::vector<uint8_t> too_small(200, 0);
  std::copy(package_.begin(), package_.begin() + 16, too_small.begin());
  std::vector<uint8_t> huge_length = package_;
  PutLe32(&huge_length, 12, 0xFFFFFFFF);
  std::vector<uint8_t> word_eight = package_;  // not interpreted
  PutLe32(&word_eight, 8, 0x12345678);
  const std::vector<Case> cases = {
      {"bad magic", bad_magic, "Magic mismatch\n"},
      {"version 1", version_one, "Version mismatch\n"},
      {"L=256 in 200 bytes", too_small, "Pack too small\n"},
      {"L=4G", huge_length, "Pack too small\n"},
      {"three bytes", {'Q', 'B', 'U'}, "Magic mismatch\n"},
      {"empty file", {}, "Magic mismatch\n"},
      {"header cut short", {'Q', 'B', 'U', 'N', 0, 0, 0, 0, 0}, "Pack too small\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(path_, c.bytes);
    LogCapture log;
    EXPECT_FALSE(VerifyPackage(path_));
    EXPECT_NE(std::string::npos, log.Text().find(c.message)) << log.Text();
  }
  WriteBytes(path_, word_eight);
  EXPECT_TRUE(VerifyPackage(path_));
}

TEST_F(PackageReaderTest, TruncatedPackagesAreRefusedAtEveryLength) {
  const std::vector<size_t> lengths = {0,
                                       1,
                                       15,
                                       16,
                                       17,
                                       16 + SignatureLength(),
                                       16 + SignatureLength() + 1,
                                       package_.size() / 2,
                                       package_.size() - 22,
                                       package_.size() - 1};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    WriteBytes(path_, std::vector<uint8_t>(package_.begin(), package_.begin() + static_cast<long>(length)));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(VerifyPackage(path_));
    EXPECT_FALSE(Read("index.html", &bytes));
  }
  EXPECT_FALSE(VerifyPackage(dir_.File("absent.qbun")));
  EXPECT_FALSE(VerifyPackage(dir_.path())) << "a directory is no package";
}

TEST_F(PackageReaderTest, DuplicateNamesGiveTheFirstInDirectoryOrder) {
  package_ = SignedPackage(Archive({{"a.txt", Bytes("first"), true},
                                    {"b.txt", Bytes("other"), false},
                                    {"a.txt", Bytes("second"), false}}));
  WriteBytes(path_, package_);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(Read("a.txt", &bytes));
  EXPECT_EQ(Bytes("first"), bytes);
}

TEST_F(PackageReaderTest, NamesOf256CharactersAreNeverFound) {
  const std::string name255 = "d/" + std::string(253, 'n');
  const std::string name256 = name255 + "x";
  const std::string name300 = name255 + std::string(45, 'y');
  package_ = SignedPackage(Archive(
      {{name300, Bytes("long"), true}, {name256, Bytes("256"), true}, {name255, Bytes("255"), true}}));
  WriteBytes(path_, package_);
  LogCapture log;
  std::vector<uint8_t> bytes;
  // The 255-character name matches its own entry, not the longer names
  // that begin with it.
  ASSERT_TRUE(Read(name255, &bytes));
  EXPECT_EQ(Bytes("255"), bytes);
  EXPECT_FALSE(Read(name256, &bytes));
  EXPECT_FALSE(Read(name300, &bytes));
  EXPECT_NE(std::string::npos, log.Text().find(" to memory failed:1280"));
}

// Finds |name|'s central-directory header in a ZIP archive.
size_t CentralHeaderOf(const std::vector<uint8_t>& archive, const std::string& name) {
  for (size_t i = 0; i + 46 + name.size() <= archive.size(); ++i) {
    if (Le32(archive, i) == 0x02014b50 && std::equal(name.begin(), name.end(), archive.begin() + i + 46))
      return i;
  }
  ADD_FAILURE() << "no central header for " << name;
  return 0;
}

TEST_F(PackageReaderTest, AbsurdOrWrongDeclaredSizesAreRefused) {
  std::vector<uint8_t> archive =
      Archive({{"big.bin", Bytes("small really"), true}, {"ok.txt", Bytes("ok"), true}});
  const size_t header = CentralHeaderOf(archive, "big.bin");
  const size_t local = Le32(archive, header + 42);
  struct Case {
    const char* name;
    uint32_t size;
    int code;
  };
  for (const Case& c : {Case{"2 GiB", 0x7FFFFFF0u, UnzipHelper::kErrorTooLarge},
                        Case{"beyond deflate's ratio", 10u << 20, UnzipHelper::kErrorCorrupt},
                        Case{"one byte more", 13u, UnzipHelper::kErrorCorrupt},
                        Case{"one byte less", 11u, UnzipHelper::kErrorCorrupt}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> patched = archive;
    PutLe32(&patched, header + 24, c.size);
    PutLe32(&patched, local + 22, c.size);
    WriteBytes(path_, SignedPackage(patched));
    ForgetVerifiedPackages();
    LogCapture log;
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(Read("big.bin", &bytes));
    EXPECT_NE(std::string::npos, log.Text().find("Unzip big.bin to memory failed:" + std::to_string(c.code)))
        << log.Text();
    ASSERT_TRUE(Read("ok.txt", &bytes));
    EXPECT_EQ(Bytes("ok"), bytes);
  }
}

TEST_F(PackageReaderTest, DamagedDeflateStreamInASignedPackageIsNotServed) {
  std::vector<uint8_t> archive = Archive({{"page.html", RandomBytes(5000, 7), true}});
  const size_t local = Le32(archive, CentralHeaderOf(archive, "page.html") + 42);
  const size_t data = local + 30 + (archive[local + 26] | archive[local + 27] << 8) +
                      (archive[local + 28] | archive[local + 29] << 8);
  for (size_t i = 0; i < 64; ++i) archive[data + 40 + i] ^= 0x5A;
  WriteBytes(path_, SignedPackage(archive));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(Read("page.html", &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST_F(PackageReaderTest, AnArchiveOfZeroBytesVerifiesButHoldsNothing) {
  WriteBytes(path_, SignedPackage({}));
  LogCapture log;
  EXPECT_TRUE(VerifyPackage(path_));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(Read("index.html", &bytes));
  EXPECT_NE(std::string::npos, log.Text().find("Unzip index.html to memory failed:65536"));
}

void AgeFile(const std::string& path) {
  // Verifications are remembered only for files whose time stamps are
  // clearly in the past. The change time cannot be set back, and no event
  // tells that time has passed: a pause longer than the settle time (a
  // slower machine only makes it longer).
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  (void)path;
}

TEST_F(PackageReaderTest, AChangedPackageIsSeenByTheVeryNextRequest) {
  WriteBytes(path_, package_);
  AgeFile(path_);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(Read("index.html", &bytes));
  ASSERT_TRUE(Read("index.html", &bytes));  // served from the remembered verification
  // Damaged in place, same size, right away: refused at once.
  std::vector<uint8_t> damaged = package_;
  damaged[package_.size() / 2] ^= 0x80;
  WriteBytes(path_, damaged);
  EXPECT_FALSE(Read("index.html", &bytes));
  EXPECT_FALSE(VerifyPackage(path_));
  // Replaced by another valid package: the new content is served.
  const std::vector<uint8_t> replacement =
      SignedPackage(Archive({{"index.html", Bytes("<html>new</html>"), true}}));
  WriteBytes(path_ + ".new", replacement);
  ASSERT_EQ(0, ::rename((path_ + ".new").c_str(), path_.c_str()));
  ASSERT_TRUE(Read("index.html", &bytes));
  EXPECT_EQ(Bytes("<html>new</html>"), bytes);
  // And back to a damaged copy after it was remembered.
  AgeFile(path_);
  ASSERT_TRUE(Read("index.html", &bytes));
  std::vector<uint8_t> damaged_replacement = replacement;
  damaged_replacement.back() ^= 1;
  WriteBytes(path_, damaged_replacement);
  EXPECT_FALSE(Read("index.html", &bytes));
}

TEST_F(PackageReaderTest, ConcurrentReadersAgree) {
  WriteBytes(path_, package_);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> bytes;
        if (!Read("img/blob.bin", &bytes) || bytes != RandomBytes(70000, 1)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
}

TEST(PackagePublicKeyTest, BlobLayoutRoundTripsAndBadBlobsAreRefused) {
  const std::vector<uint8_t>& blob = PackagePublicKey::EmbeddedBlob();
  ASSERT_EQ(276u, blob.size());
  const std::vector<uint8_t> header = {6, 2, 0, 0, 0, 0x24, 0, 0, 'R', 'S', 'A', '1', 0, 8, 0, 0};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), blob.begin()));
  const auto key = PackagePublicKey::FromBlob(blob.data(), blob.size());
  ASSERT_TRUE(key);
  EXPECT_EQ(blob, key->ToBlob());
  for (size_t offset : {0u, 1u, 4u, 8u, 12u}) {
    std::vector<uint8_t> bad = blob;
    bad[offset] ^= 0x01;
    EXPECT_FALSE(PackagePublicKey::FromBlob(bad.data(), bad.size())) << offset;
  }
  EXPECT_FALSE(PackagePublicKey::FromBlob(blob.data(), blob.size() - 1));
}

}  // namespace
}  // namespace vesk
