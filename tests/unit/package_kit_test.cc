// The package tool's writer rules (what is packed, what a page could not
// reach) and the diagnosis behind the start-up check's log line and
// `qbun verify`, against real files and real keys.
#include <glib.h>
#include <openssl/rsa.h>
#include <sys/stat.h>

#include <algorithm>

#include "package_test_util.h"
#include "package_writer.h"
#include "vesk/core/file_util.h"
#include "vesk/core/package/package_diagnosis.h"
#include "vesk/core/package/package_public_key.h"

namespace vesk {
namespace {

using testing::Archive;
using testing::Bytes;
using testing::SignedPackage;
using testing::TempDir;
using testing::WriteBytes;

void WriteAt(const TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  ASSERT_EQ(g_mkdir_with_parents(DirName(path).c_str(), 0700), 0);
  WriteBytes(path, Bytes("x"));
}

std::vector<std::string> Names(const std::vector<qbun::ArchiveFile>& files) {
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.name);
  return names;
}

TEST(PackageKitTest, PackingLeavesOutDotfilesExclusionsAndItsOwnOutput) {
  TempDir dir;
  for (const char* name : {"index.html", ".git/HEAD", "js/.app.js.swp", "js/app.js", "maps/app.js.map",
                           "js/app.js.map", "notes.md", "out.qbun"})
    WriteAt(dir, name);
  qbun::CollectOptions options;
  options.excludes = {"*.map", "notes.md"};
  options.skip_paths = {dir.File("out.qbun")};
  std::vector<qbun::ArchiveFile> files;
  std::string error;
  ASSERT_TRUE(qbun::CollectDirectory(dir.path(), options, &files, &error)) << error;
  EXPECT_EQ(Names(files), (std::vector<std::string>{"index.html", "js/app.js"}));
  // A directory pattern leaves out everything below it.
  options.excludes = {"maps", "js/*"};
  ASSERT_TRUE(qbun::CollectDirectory(dir.path(), options, &files, &error)) << error;
  EXPECT_EQ(Names(files), (std::vector<std::string>{"index.html", "notes.md"}));
}

TEST(PackageKitTest, NamesAPageCannotReachOrThatServeAsPlainTextAreWarnedAbout) {
  for (const char* name : {"my file.html", "50%.html", "a?b.html", "a#b.html", "caf\xc3\xa9.html"}) {
    const auto warnings = qbun::NameWarnings(name);
    ASSERT_EQ(warnings.size(), 1u) << name;
    EXPECT_NE(warnings[0].find("cannot address"), std::string::npos) << name;
  }
  EXPECT_NE(qbun::NameWarnings("data/model.onnx").at(0).find("text/plain (.onnx)"), std::string::npos);
  EXPECT_NE(qbun::NameWarnings("LICENSE").at(0).find("(no extension)"), std::string::npos);
  for (const char* name : {"index.html", "js/app.mjs", "m.wasm", "f.woff2", "readme.txt", "version.dat"})
    EXPECT_TRUE(qbun::NameWarnings(name).empty()) << name;
}

TEST(PackageKitTest, KeysTheProgramCannotLoadAreRefusedAndNewPairsAreUsable) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(qbun::GenerateKeyPair(dir.File("private.pem"), dir.File("public.pem"), &error)) << error;
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("private.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(qbun::GenerateKeyPair(dir.File("private.pem"), dir.File("other.pem"), &error))
      << "an existing key is never replaced";
  auto key = qbun::LoadPrivateKey(dir.File("private.pem"), &error);
  ASSERT_TRUE(key) << error;
  EXPECT_TRUE(qbun::CheckSigningKey(key.get(), &error)) << error;

  qbun::PrivateKey small(EVP_RSA_gen(1024));
  ASSERT_TRUE(small);
  EXPECT_FALSE(qbun::CheckSigningKey(small.get(), &error));
  EXPECT_NE(error.find("1024-bit RSA"), std::string::npos) << error;
}

class PackageDiagnosisTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  std::string Reason(const std::string& path) { return DiagnosePackage(path, nullptr).reason; }

  TempDir dir_;
};

TEST_F(PackageDiagnosisTest, HeaderFaultsAreNamedInWords) {
  VESK_REQUIRE_SIGNING_KEY();
  const std::vector<uint8_t> good = SignedPackage(Archive({{"index.html", Bytes("<p>hi</p>"), true}}));
  EXPECT_EQ(Reason(dir_.File("absent.qbun")), "the file does not exist");
  EXPECT_EQ(Reason(dir_.path()), "it is not a regular file");
  EXPECT_NE(Reason(Write("zip.qbun", Bytes("PK\x03\x04 and more"))).find("bad magic"), std::string::npos);
  std::vector<uint8_t> version = good;
  version[4] = 1;
  EXPECT_EQ(Reason(Write("version.qbun", version)), "its format version is 1, not 0");
  const std::vector<uint8_t> truncated(good.begin(), good.begin() + 200);
  EXPECT_NE(
      Reason(Write("short.qbun", truncated)).find("too small: the header announces a 256-byte signature"),
      std::string::npos);
  EXPECT_NE(Reason(Write("tiny.qbun", Bytes("QB"))).find("too small"), std::string::npos);
}

TEST_F(PackageDiagnosisTest, SignatureFaultsNameTheKeyAndTheSigner) {
  VESK_REQUIRE_SIGNING_KEY();
  const std::vector<uint8_t> archive = Archive({{"index.html", Bytes("<p>hi</p>"), true}});
  std::string error;
  auto own = qbun::LoadPrivateKey(testing::SigningKeyPath(), &error);
  ASSERT_TRUE(own) << error;
  const std::string embedded = KeyFingerprint(*PackagePublicKey::Embedded());
  ASSERT_EQ(embedded.size(), 64u);
  EXPECT_EQ(PublicKeyFingerprint(own.get()), embedded);

  std::vector<uint8_t> signature;
  ASSERT_TRUE(qbun::SignArchive(own.get(), archive, &signature, &error));
  std::vector<uint8_t> package = qbun::AssemblePackage(signature, archive, KeyIdBytes(own.get()));
  const PackageDiagnosis verified = DiagnosePackage(Write("good.qbun", package), nullptr);
  EXPECT_TRUE(verified.verified);
  EXPECT_EQ(verified.reason, "verified with key " + embedded);
  EXPECT_EQ(verified.signer_key_id, embedded.substr(0, 8));

  package.back() ^= 1;
  EXPECT_EQ(Reason(Write("changed.qbun", package)),
            "its signature does not match key " + embedded +
                " (it was signed with this key but changed afterwards)");

  qbun::PrivateKey other(EVP_RSA_gen(2048));
  ASSERT_TRUE(qbun::SignArchive(other.get(), archive, &signature, &error));
  const std::string other_id = PublicKeyFingerprint(other.get()).substr(0, 8);
  EXPECT_EQ(Reason(Write("other.qbun", qbun::AssemblePackage(signature, archive, KeyIdBytes(other.get())))),
            "its signature does not match key " + embedded + " (it was signed with another key, id " +
                other_id + ")");
  // Packages from before the key id: the header word is zero.
  EXPECT_EQ(Reason(Write("old.qbun", qbun::AssemblePackage(signature, archive))),
            "its signature does not match key " + embedded + " (damaged, or signed with another key)");
}

}  // namespace
}  // namespace vesk
