// The instance channel's bytes: request and answer layout, section name and
// contents, and the receive-side validation with its log texts.
#include "vesk/core/ipc/ipc_wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"
#include "vesk/core/ipc/ipc_socket_dir.h"
#include "vesk/core/logging.h"

namespace vesk::ipc {
namespace {

using testing::LogCapture;

TEST(IpcWireTest, RequestAndAnswerAreLittleEndianWords) {
  const auto request = EncodeIpcRequest(IpcRequest{kIpcRequestMessage, 0x01020304, 0xA0B0C0D0});
  const unsigned char expected[12] = {0x01, 0x80, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0};
  EXPECT_EQ(0, std::memcmp(request.data(), expected, sizeof expected));
  const IpcRequest decoded = DecodeIpcRequest(expected);
  EXPECT_EQ(0x8001u, decoded.message);
  EXPECT_EQ(0x01020304u, decoded.receiver_pid);
  EXPECT_EQ(0xA0B0C0D0u, decoded.tick);
  const auto answer = EncodeIpcAnswer();
  EXPECT_EQ(std::string(4, '\0'), std::string(answer.begin(), answer.end()));
}

TEST(IpcWireTest, SectionNameAndText) {
  EXPECT_EQ("/vesk_ipc_4660_1000", IpcSectionName(4660, 1000));
  EXPECT_EQ("/vesk_ipc_4294967295_4294967295", IpcSectionName(0xFFFFFFFFu, 0xFFFFFFFFu));
  EXPECT_EQ("{\"data\":\"\",\"id\":0}\n", SerializeIpcMessage(IpcMessage{0, ""}));
  EXPECT_EQ("{\"data\":\"a\\\"b\\\\c\",\"id\":-7}\n", SerializeIpcMessage(IpcMessage{-7, "a\"b\\c"}));
  // What a peer writes reads back the same, with or without the line feed.
  const IpcMessage original{kUploadMessage, "L3RtcC9yZXEuanNvbg=="};
  std::string text = SerializeIpcMessage(original);
  for (int pass = 0; pass < 2; ++pass) {
    const auto parsed = ParseIpcMessageText(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(original.id, parsed->id);
    EXPECT_EQ(original.data, parsed->data);
    text.pop_back();
  }
}

TEST(IpcWireTest, IdMustBeAWholeInt32AndDataAString) {
  LogCapture log;
  struct Case {
    const char* text;
    bool valid;
    int32_t id;
  };
  const Case cases[] = {
      {R"({"data":"x","id":1.0})", true, 1},
      {R"({"id":2,"data":"x","extra":[1,2]})", true, 2},
      {R"({"data":"","id":-2147483648})", true, INT32_MIN},
      {R"({"data":"","id":2147483647})", true, INT32_MAX},
      {R"({"data":"","id":2147483648})", false, 0},
      {R"({"data":"","id":-2147483649})", false, 0},
      {R"({"data":"","id":1e300})", false, 0},
      {R"({"data":"","id":1.5})", false, 0},
      {R"({"data":"","id":"1"})", false, 0},
      {R"({"data":5,"id":1})", false, 0},
      {R"({"data":null,"id":1})", false, 0},
      {R"({"id":1})", false, 0},
      {R"([1,"x"])", false, 0},
  };
  for (const Case& entry : cases) {
    const auto parsed = ParseIpcMessageText(entry.text);
    EXPECT_EQ(entry.valid, parsed.has_value()) << entry.text;
    if (entry.valid && parsed) {
      EXPECT_EQ(entry.id, parsed->id) << entry.text;
    } else if (!entry.valid) {
      EXPECT_NE(std::string::npos,
                log.Text().find(std::string("IPCData Json Data Parse Failed: ") + entry.text))
          << entry.text;
    }
  }
}

TEST(IpcWireTest, TextThatIsNotJsonIsLoggedWhole) {
  LogCapture log;
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  for (const std::string& text :
       {std::string("not json"), std::string(R"({"data":"","id":0} trailing)"), std::string(), deep}) {
    EXPECT_FALSE(ParseIpcMessageText(text)) << text.substr(0, 40);
    EXPECT_NE(std::string::npos, log.Text().find("IPCData Parse Failed: " + text)) << text.substr(0, 40);
  }
}

TEST(IpcSocketDirTest, SocketNamesAreCanonicalPids) {
  EXPECT_EQ(123u, ParseIpcSocketName("123"));
  EXPECT_EQ(4294967295u, ParseIpcSocketName("4294967295"));
  for (const char* bad : {"", "0", "0123", "12a", "-1", "4294967296", "99999999999", ".", ".."})
    EXPECT_FALSE(ParseIpcSocketName(bad)) << bad;
}

}  // namespace
}  // namespace vesk::ipc
