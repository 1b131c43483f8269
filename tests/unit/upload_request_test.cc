#include "vesk/core/upload_request.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"

namespace vesk {
namespace {

class UploadRequestTest : public ::testing::Test {
 protected:
  std::string Request(const std::string& json) {
    const std::string path = dir_.File("request " + std::to_string(counter_++) + ".json");
    EXPECT_TRUE(WriteStringToFile(path, json));
    return Base64Encode(path);
  }
  testing::TempDir dir_;
  int counter_ = 0;
};

TEST_F(UploadRequestTest, AppendsStringsAndNullsInOrderAndSkipsOtherTypes) {
  const std::string value =
      Request(R"({"command":"upload","data":["/home/u/a.txt",null,"/home/u/文件.pdf",7,{"x":1},true]})");
  std::vector<std::string> paths{"/earlier"};
  EXPECT_TRUE(LoadUploadRequest(value, &paths));
  EXPECT_EQ(paths, (std::vector<std::string>{"/earlier", "/home/u/a.txt", "", "/home/u/文件.pdf"}));
  // The request file stays where it was.
  EXPECT_TRUE(PathExists(*Base64Decode(value)));
}

TEST_F(UploadRequestTest, RejectsBadValuesFilesAndShapesWithoutAppending) {
  const std::string not_base64 = "not base64!";
  const std::string missing = Base64Encode(dir_.File("missing.json"));
  const std::string empty = Request("");
  const std::string not_json = Request("{\"data\": [");
  const std::string not_array = Request(R"({"data":"a.txt"})");
  const std::string not_object = Request(R"(["a.txt"])");
  const std::string directory = Base64Encode(dir_.path());
  const std::string deep = Request("{\"data\":" + std::string(100000, '[') + std::string(100000, ']') + "}");
  for (const std::string& value :
       {not_base64, missing, empty, not_json, not_array, not_object, directory, deep}) {
    std::vector<std::string> paths;
    EXPECT_FALSE(LoadUploadRequest(value, &paths)) << value;
    EXPECT_TRUE(paths.empty()) << value;
  }
  std::vector<std::string> paths;
  EXPECT_TRUE(LoadUploadRequest(Request(R"({"data":[]})"), &paths));
  EXPECT_TRUE(paths.empty());
}

TEST_F(UploadRequestTest, PendingListIsTakenWhole) {
  PendingUploadFiles::Get().TakeAll();
  EXPECT_TRUE(LoadUploadRequest(Request(R"({"data":["/a","/b"]})")));
  EXPECT_FALSE(LoadUploadRequest(std::string("%%%")));
  EXPECT_EQ(PendingUploadFiles::Get().TakeAll(), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_TRUE(PendingUploadFiles::Get().TakeAll().empty());
}

TEST(Base64Test, StrictDecodingAndRoundTrip) {
  EXPECT_EQ(Base64Decode("L3RtcC9hLmpzb24="), "/tmp/a.json");
  EXPECT_EQ(Base64Decode(""), "");
  EXPECT_EQ(Base64Decode("YQ=="), "a");
  EXPECT_FALSE(Base64Decode("YQ="));
  EXPECT_FALSE(Base64Decode("Y==="));
  EXPECT_FALSE(Base64Decode("YQ==YQ=="));
  EXPECT_FALSE(Base64Decode("YW Jj"));
  EXPECT_FALSE(Base64Decode("YWJj\n"));
  EXPECT_FALSE(Base64Decode("YW-j"));
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t n = 0; n < 6; ++n) EXPECT_EQ(Base64Decode(Base64Encode(all.substr(n))), all.substr(n));
}

}  // namespace
}  // namespace vesk
