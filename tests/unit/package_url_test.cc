// vesk:// URLs to bytes: package mode, the <host>-package-dir override, the
// MIME table, and dumping to the temporary directory.
#include <sys/stat.h>
#include <unistd.h>

#include "package_test_util.h"
#include "vesk/core/command_line.h"
#include "vesk/core/package/mime_types.h"
#include "vesk/core/package/url_content.h"

namespace vesk {
namespace {

using testing::Archive;
using testing::Bytes;
using testing::LogCapture;
using testing::SignedPackage;
using testing::TempDir;
using testing::WriteBytes;

TEST(MimeTypeTest, FirstRowWinsAndCaseIsIgnored) {
  EXPECT_STREQ("text/html", MimeTypeForExtension("html"));
  EXPECT_STREQ("text/html", MimeTypeForExtension("HTM"));
  EXPECT_STREQ("text/html", MimeTypeForExtension("shtml"));
  EXPECT_STREQ("video/webm", MimeTypeForExtension("webm"));
  EXPECT_STREQ("image/jpeg", MimeTypeForExtension("JPG"));
  EXPECT_STREQ("image/jpeg", MimeTypeForExtension("pjp"));
  EXPECT_STREQ("application/x-javascript", MimeTypeForExtension("js"));
  EXPECT_STREQ("application/pkcs7-signature", MimeTypeForExtension("p7s"));
  EXPECT_STREQ("application/octet-stream", MimeTypeForExtension("Bin"));
  EXPECT_STREQ("text/xml", MimeTypeForExtension("xsl"));
  // Unknown, partial and empty extensions.
  EXPECT_STREQ("text/plain", MimeTypeForExtension("woff3"));
  EXPECT_STREQ("text/plain", MimeTypeForExtension("mj"));
  EXPECT_STREQ("text/plain", MimeTypeForExtension("htm "));
  EXPECT_STREQ("text/plain", MimeTypeForExtension("ht"));
  EXPECT_STREQ("text/plain", MimeTypeForExtension("html,htm"));
  EXPECT_STREQ("text/plain", MimeTypeForExtension(""));
}

TEST(MimeTypeTest, ModernTypesFollowTheFirstThirtyNineRows) {
  EXPECT_STREQ("text/javascript", MimeTypeForExtension("mjs"));
  EXPECT_STREQ("application/wasm", MimeTypeForExtension("WASM"));
  EXPECT_STREQ("application/json", MimeTypeForExtension("json"));
  EXPECT_STREQ("font/woff2", MimeTypeForExtension("woff2"));
  EXPECT_STREQ("font/woff", MimeTypeForExtension("woff"));
  EXPECT_STREQ("font/ttf", MimeTypeForExtension("ttf"));
  EXPECT_STREQ("font/otf", MimeTypeForExtension("otf"));
  // The older rows still decide what they listed.
  EXPECT_STREQ("application/x-javascript", MimeTypeForExtension("js"));
  EXPECT_STREQ("text/plain", MimeTypeForExtension("txt"));
}

TEST(MimeTypeTest, ExtensionIsTakenFromTheLastComponent) {
  EXPECT_EQ("html", ExtensionOfPath("/a/index.html"));
  EXPECT_EQ("gz", ExtensionOfPath("/a/b.tar.gz"));
  EXPECT_EQ("", ExtensionOfPath("/a.dir/README"));
  EXPECT_EQ("", ExtensionOfPath("/a.dir\\README"));
  EXPECT_EQ("", ExtensionOfPath("/"));
  EXPECT_EQ("", ExtensionOfPath("/name."));
  EXPECT_EQ("ico", ExtensionOfPath("img\\tray.ico"));
}

TEST(SplitUrlTest, PartsOfVeskUrls) {
  UrlParts parts;
  ASSERT_TRUE(SplitUrl("vesk://main/js/app.js?v=3#top", &parts));
  EXPECT_EQ("vesk", parts.scheme);
  EXPECT_EQ("main", parts.host);
  EXPECT_EQ("/js/app.js", parts.path);
  ASSERT_TRUE(SplitUrl("vesk://main", &parts));
  EXPECT_EQ("main", parts.host);
  EXPECT_EQ("", parts.path);
  ASSERT_TRUE(SplitUrl("VESK://user@main:99/x", &parts));
  EXPECT_EQ("VESK", parts.scheme);
  EXPECT_EQ("main", parts.host);
  ASSERT_TRUE(SplitUrl("vesk://MaIn/Js/App.js", &parts));
  EXPECT_EQ("main", parts.host) << "a host is case-insensitive";
  EXPECT_EQ("/Js/App.js", parts.path) << "a path is not";
  EXPECT_FALSE(SplitUrl("no scheme here", &parts));
  EXPECT_FALSE(SplitUrl("/abs:path", &parts));
}

class UrlContentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_SIGNING_KEY();
    ForgetVerifiedPackages();
    ASSERT_EQ(0, ::mkdir(dir_.File("package").c_str(), 0755));
    WriteBytes(dir_.File("package/main.qbun"),
               SignedPackage(Archive({{"index.html", Bytes("<p>main</p>"), true},
                                      {"js/app.js", Bytes("app()"), true},
                                      {"version.dat", Bytes(" 2.5\n"), true}})));
  }
  bool Load(const std::string& url, std::vector<uint8_t>* bytes, std::vector<std::string> args = {}) {
    args.insert(args.begin(), "pelicard");
    return LoadUrlContent(url, dir_.path(), CommandLine::FromArgv(args), bytes);
  }

  TempDir dir_;
};

TEST_F(UrlContentTest, PackageModeTrimsSlashesAndIgnoresTheQuery) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(Load("vesk://main/index.html", &bytes));
  EXPECT_EQ(Bytes("<p>main</p>"), bytes);
  ASSERT_TRUE(Load("vesk://main//js/app.js//?v=3", &bytes));
  EXPECT_EQ(Bytes("app()"), bytes);
  EXPECT_FALSE(Load("vesk://main/", &bytes));
  EXPECT_FALSE(Load("vesk://main", &bytes));
  EXPECT_FALSE(Load("vesk://main/INDEX.HTML", &bytes));
  ASSERT_TRUE(Load("vesk://MAIN/index.html", &bytes)) << "upper- and mixed-case hosts name the same package";
  ASSERT_TRUE(Load("vesk://mAiN/index.html", &bytes));
  EXPECT_EQ(Bytes("<p>main</p>"), bytes);
  EXPECT_FALSE(Load("Vesk://main/index.html", &bytes)) << "the scheme compares case-sensitively";
  EXPECT_FALSE(Load("http://main/index.html", &bytes));
}

TEST_F(UrlContentTest, MissingPackageIsLogged) {
  LogCapture log;
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(Load("vesk://other/index.html", &bytes));
  EXPECT_NE(std::string::npos,
            log.Text().find("package file " + dir_.File("package/other.qbun") + " doesn't exist"));
}

TEST_F(UrlContentTest, OverrideDirectoryServesFilesForItsHostOnly) {
  const std::string site = dir_.File("site");
  ASSERT_EQ(0, ::mkdir(site.c_str(), 0755));
  ASSERT_EQ(0, ::mkdir((site + "/css").c_str(), 0755));
  ASSERT_TRUE(WriteStringToFile(site + "/css/a.css", "body{}"));
  ASSERT_TRUE(WriteStringToFile(site + "/empty.txt", ""));
  std::vector<uint8_t> bytes;
  const std::vector<std::string> args = {"--main-package-dir=" + site};
  ASSERT_TRUE(Load("vesk://main/css/a.css", &bytes, args));
  EXPECT_EQ(Bytes("body{}"), bytes);
  EXPECT_FALSE(Load("vesk://main/index.html", &bytes, args)) << "the package is not consulted";
  EXPECT_FALSE(Load("vesk://main/empty.txt", &bytes, args)) << "empty files are not served";
  EXPECT_FALSE(Load("vesk://main/css", &bytes, args)) << "directories are not served";
  // Another host, and an empty value, use the package.
  ASSERT_TRUE(Load("vesk://main/index.html", &bytes, {"--other-package-dir=" + site}));
  ASSERT_TRUE(Load("vesk://main/index.html", &bytes, {"--main-package-dir="}));
}

TEST_F(UrlContentTest, OverridePathsCannotLeaveTheDirectory) {
  const std::string site = dir_.File("site");
  ASSERT_EQ(0, ::mkdir(site.c_str(), 0755));
  ASSERT_TRUE(WriteStringToFile(dir_.File("secret.txt"), "secret"));
  ASSERT_EQ(0, ::symlink(dir_.File("secret.txt").c_str(), (site + "/link.txt").c_str()));
  ASSERT_EQ(0, ::symlink(dir_.path().c_str(), (site + "/up").c_str()));
  ASSERT_TRUE(WriteStringToFile(site + "/inside.txt", "inside"));
  ASSERT_EQ(0, ::symlink((site + "/inside.txt").c_str(), (site + "/alias.txt").c_str()));
  const std::vector<std::string> args = {"--main-package-dir=" + site};
  LogCapture log;
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(Load("vesk://main/../secret.txt", &bytes, args));
  EXPECT_FALSE(Load("vesk://main/x/..\\..\\secret.txt", &bytes, args));
  EXPECT_FALSE(Load("vesk://main/link.txt", &bytes, args));
  EXPECT_FALSE(Load("vesk://main/up/secret.txt", &bytes, args));
  EXPECT_TRUE(bytes.empty());
  EXPECT_NE(std::string::npos, log.Text().find("Refusing"));
  // A link that stays inside is fine.
  ASSERT_TRUE(Load("vesk://main/alias.txt", &bytes, args));
  EXPECT_EQ(Bytes("inside"), bytes);
}

TEST_F(UrlContentTest, DumpWritesBelowTheTemporaryDirectory) {
  TempDir temp;
  const CommandLine command_line = CommandLine::FromArgv({"pelicard"});
  std::string path;
  ASSERT_TRUE(DumpUrlToTempFile("vesk://main/js/app.js?x=1", dir_.path(), command_line, temp.path(), &path));
  EXPECT_EQ(temp.path() + "/vesk-" + std::to_string(::geteuid()) + "/js/app.js.qbun.extracted", path);
  std::string contents;
  ASSERT_TRUE(ReadFileToString(path, &contents, 1024));
  EXPECT_EQ("app()", contents);
  // A second dump replaces the file, even when a link was planted there.
  ASSERT_EQ(0, ::unlink(path.c_str()));
  ASSERT_TRUE(WriteStringToFile(dir_.File("victim"), "victim"));
  ASSERT_EQ(0, ::symlink(dir_.File("victim").c_str(), path.c_str()));
  ASSERT_TRUE(DumpUrlToTempFile("vesk://main/js/app.js", dir_.path(), command_line, temp.path(), &path));
  ASSERT_TRUE(ReadFileToString(dir_.File("victim"), &contents, 1024));
  EXPECT_EQ("victim", contents);
  ASSERT_TRUE(ReadFileToString(path, &contents, 1024));
  EXPECT_EQ("app()", contents);

  LogCapture log;
  EXPECT_FALSE(DumpUrlToTempFile("vesk://main/missing.js", dir_.path(), command_line, temp.path(), &path));
  EXPECT_NE(std::string::npos,
            log.Text().find("Try to dump url(vesk://main/missing.js) content to memory, but failed."));
  EXPECT_FALSE(
      DumpUrlToTempFile("vesk://main/../../version.dat", dir_.path(), command_line, temp.path(), &path));
}

TEST_F(UrlContentTest, DumpThatCannotBeWrittenFails) {
  TempDir temp;
  const CommandLine command_line = CommandLine::FromArgv({"pelicard"});
  std::string path;
  ASSERT_TRUE(DumpUrlToTempFile("vesk://main/js/app.js", dir_.path(), command_line, temp.path(), &path));
  // A directory where the file belongs: the write fails, and the caller must
  // not be sent to read whatever lies at that name.
  ASSERT_EQ(0, ::unlink(path.c_str()));
  ASSERT_TRUE(CreateDirectoryRecursive(path + "/x"));
  LogCapture log;
  std::string second;
  EXPECT_FALSE(DumpUrlToTempFile("vesk://main/js/app.js", dir_.path(), command_line, temp.path(), &second));
  EXPECT_TRUE(second.empty());
  EXPECT_NE(std::string::npos, log.Text().find("Cannot write " + path));
}

}  // namespace
}  // namespace vesk
