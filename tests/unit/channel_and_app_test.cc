// The page channel's wire form, the autostart store behind the Run key and
// the version text.
#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "test_util.h"
#include "vesk/core/autostart.h"
#include "vesk/core/channel/channel_schema.h"
#include "vesk/core/version_text.h"

namespace vesk {
namespace {

TEST(ChannelSchemaTest, RequestsAndResponsesRoundTripThroughFrames) {
  channel::Request request;
  request.op = channel::Op::kWinSetPosition;
  request.page_id = 0xFFFFFFFFFFull;
  request.args["x"] = 10;
  request.args["title"] = "窗口 \"quoted\"";
  channel::FrameReader reader;
  const std::string framed = channel::Frame(channel::EncodeRequest(request)) +
                             channel::Frame(channel::EncodeResponse(channel::Response{}));
  // Bytes arrive in arbitrary pieces.
  std::string payload;
  for (char byte : framed.substr(0, 7)) reader.Append(&byte, 1);
  EXPECT_EQ(reader.Next(&payload), channel::FrameReader::Status::kNeedMore);
  reader.Append(framed.data() + 7, framed.size() - 7);
  ASSERT_EQ(reader.Next(&payload), channel::FrameReader::Status::kFrame);
  const auto decoded = channel::DecodeRequest(payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->op, channel::Op::kWinSetPosition);
  EXPECT_EQ(decoded->page_id, 0xFFFFFFFFFFull);
  EXPECT_EQ(decoded->args["title"].asString(), "窗口 \"quoted\"");
  ASSERT_EQ(reader.Next(&payload), channel::FrameReader::Status::kFrame);
  EXPECT_TRUE(channel::DecodeResponse(payload));
  EXPECT_EQ(reader.Next(&payload), channel::FrameReader::Status::kNeedMore);
}

TEST(ChannelSchemaTest, MalformedOrForeignMessagesAreRefused) {
  for (const char* text :
       {"", "[]", "{}", R"({"v":2,"op":1,"page":1,"args":{}})", R"({"v":1,"op":"1","page":1,"args":{}})",
        R"({"v":1,"op":1,"page":-1,"args":{}})", R"({"v":1,"op":1,"page":1,"args":[]})",
        R"({"v":1,"op":1,"op":2,"page":1,"args":{}})", "{\"v\":1,"})
    EXPECT_FALSE(channel::DecodeRequest(text)) << text;
  EXPECT_FALSE(channel::DecodeRequest(std::string(100000, '[')));
  EXPECT_FALSE(channel::DecodeResponse(R"({"v":1,"error":0})"));
  // A length prefix beyond the limit makes the stream unusable at once.
  channel::FrameReader reader;
  const char huge[4] = {0, 0, 0, 0x7F};
  reader.Append(huge, 4);
  std::string payload;
  EXPECT_EQ(reader.Next(&payload), channel::FrameReader::Status::kTooLarge);
}

// Messages in the layout this channel writes are read without the full
// JSON reader; what is accepted and how it reads must not depend on that.
TEST(ChannelSchemaTest, TheWrittenLayoutReadsLikeAnyOtherMemberOrder) {
  channel::Request request;
  request.op = channel::Op::kWinSetTitle;
  request.page_id = 42;
  request.args["title"] = "}\"{ ,\"v\":2}";  // braces and quotes inside a string
  request.args["nested"]["list"].append(1.5);
  const std::string written = channel::EncodeRequest(request);
  EXPECT_EQ(written.rfind(R"({"v":1,"op":26,"page":42,"args":{)", 0), 0u) << written;
  const auto decoded = channel::DecodeRequest(written);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->op, request.op);
  EXPECT_EQ(decoded->page_id, 42u);
  EXPECT_EQ(decoded->args, request.args);

  // The same message with its members in another order takes the full
  // reader; both readings agree, at the limits of the numbers too.
  for (const char* page : {"0", "18446744073709551615", "18446744073709551616", "-1", "1.0", "01"}) {
    const std::string layout = std::string(R"({"v":1,"op":26,"page":)") + page + R"(,"args":{"a":1}})";
    const std::string sorted = std::string(R"({"args":{"a":1},"op":26,"page":)") + page + R"(,"v":1})";
    const auto from_layout = channel::DecodeRequest(layout), from_sorted = channel::DecodeRequest(sorted);
    ASSERT_EQ(from_layout.has_value(), from_sorted.has_value()) << page;
    if (from_layout) {
      EXPECT_EQ(from_layout->page_id, from_sorted->page_id) << page;
    }
  }
  EXPECT_FALSE(channel::DecodeRequest(R"({"v":1,"op":4294967296,"page":1,"args":{}})"))
      << "op beyond 32 bits";
  // Nesting is bounded for the whole message, whichever way it is read.
  for (int depth = 60; depth <= 66; ++depth) {
    const std::string args = "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
    const bool layout = channel::DecodeRequest(R"({"v":1,"op":26,"page":1,"args":)" + args + "}").has_value();
    const bool sorted =
        channel::DecodeRequest(R"({"args":)" + args + R"(,"op":26,"page":1,"v":1})").has_value();
    EXPECT_EQ(layout, sorted) << depth;
  }

  channel::Response response;
  response.error = channel::Error::kNoWindow;
  response.result["opacity"] = 0.25;
  const auto answer = channel::DecodeResponse(channel::EncodeResponse(response));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->error, channel::Error::kNoWindow);
  EXPECT_EQ(answer->result, response.result);
  EXPECT_TRUE(channel::DecodeResponse(R"({"result":{},"error":3,"v":1})"));
  EXPECT_EQ(channel::DecodeResponse(R"({"v":1,"error":0,"result":{}} trailing)").has_value(),
            channel::DecodeResponse(R"({"error":0,"result":{},"v":1} trailing)").has_value())
      << "trailing text is read alike";
}

// Flat payloads of numbers and booleans are read and written without
// JsonCpp's number streams; the values, their types and what is refused must
// be the full reader's.
TEST(ChannelSchemaTest, FlatPayloadsReadAndWriteLikeJsonCpp) {
  for (const char* args : {R"({"a":0.5})",
                           R"({"a":-0})",
                           R"({"a":-0.0})",
                           R"({"a":1E-2,"b":2.5e+3})",
                           R"({"a":123456789})",
                           R"({"a":1234567890})",
                           R"({"a":-2147483648})",
                           R"({"a":1e400})",
                           R"({"a":1e-400})",
                           R"({"a":4.9e-324})",
                           R"({"a":true,"b":false})",
                           R"({"a":01})",
                           R"({"a":1.})",
                           R"({"a":.5})",
                           R"({"a":+1})",
                           R"({"a":-})",
                           R"({"a":1e})",
                           R"({"a":tru})",
                           R"({"a":1,"a":2})",
                           R"({"a":1,})",
                           R"({"a b":1})",
                           R"({"":1})",
                           R"({"a":1}x)",
                           R"({"a":1 })",
                           R"({"a":1.5x})"}) {
    const auto from_layout =
        channel::DecodeRequest(std::string(R"({"v":1,"op":26,"page":1,"args":)") + args + "}");
    const auto from_sorted =
        channel::DecodeRequest(std::string(R"({"args":)") + args + R"(,"op":26,"page":1,"v":1})");
    ASSERT_EQ(from_layout.has_value(), from_sorted.has_value()) << args;
    if (from_layout) {
      EXPECT_EQ(from_layout->args, from_sorted->args) << args;  // == compares types too
    }
  }

  channel::Response response;
  response.result["real"] = 1.0;
  response.result["small"] = 5e-324;
  response.result["tenth"] = 0.1;
  response.result["negative_zero"] = -0.0;
  response.result["int"] = -7;
  response.result["wide"] = Json::Int64{1} << 40;
  response.result["yes"] = true;
  const std::string written = channel::EncodeResponse(response);
  EXPECT_NE(written.find(R"("real":1.0)"), std::string::npos) << written;
  const auto read = channel::DecodeResponse(written);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->result, response.result) << written;
  EXPECT_TRUE(std::signbit(read->result["negative_zero"].asDouble()));
}

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = g_getenv("XDG_CONFIG_HOME") ? g_getenv("XDG_CONFIG_HOME") : "";
    g_setenv("XDG_CONFIG_HOME", dir_.path().c_str(), TRUE);
    g_reload_user_special_dirs_cache();
  }
  void TearDown() override {
    if (previous_.empty())
      g_unsetenv("XDG_CONFIG_HOME");
    else
      g_setenv("XDG_CONFIG_HOME", previous_.c_str(), TRUE);
  }
  testing::TempDir dir_;
  std::string previous_;
};

TEST_F(AutostartTest, EntryRunsTheCommandAndKeepsTheValueVerbatim) {
  // g_get_user_config_dir() is cached by GLib; the entry path follows it.
  const std::string path = AutostartEntryPath("x");
  const std::string program = "/opt/my apps/pelicard";
  const std::string command = "\"" + program + "\" --vesk-startup=tray $HOME 100%";
  ASSERT_TRUE(WriteAutostartEntry("x", command, {program, "--vesk-startup=tray $HOME 100%"}));
  EXPECT_TRUE(HasAutostartEntry("x"));
  EXPECT_EQ(ReadAutostartCommandLine("x"), command);
  // The desktop session's own parser must turn Exec back into the arguments.
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr));
  gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
  g_key_file_free(file);
  ASSERT_TRUE(exec);
  std::string unescaped;
  for (const char* c = exec; *c; ++c) {  // %% stands for %
    unescaped += *c;
    if (c[0] == '%' && c[1] == '%') ++c;
  }
  g_free(exec);
  gchar** argv = nullptr;
  ASSERT_TRUE(g_shell_parse_argv(unescaped.c_str(), nullptr, &argv, nullptr));
  ASSERT_EQ(g_strv_length(argv), 2u);
  EXPECT_EQ(std::string(argv[0]), program);
  EXPECT_EQ(std::string(argv[1]), "--vesk-startup=tray $HOME 100%");
  g_strfreev(argv);
  EXPECT_TRUE(DeleteAutostartEntry("x"));
  EXPECT_FALSE(HasAutostartEntry("x"));
  EXPECT_FALSE(DeleteAutostartEntry("x"));
}

TEST_F(AutostartTest, NamesNeverLeaveTheAutostartDirectory) {
  const std::string dir = JoinPath(JoinPath(g_get_user_config_dir(), "autostart"), "");
  for (const char* name : {"../../evil", "/etc/passwd", "..", ".hidden", "a%2Fb", ""}) {
    const std::string path = AutostartEntryPath(name);
    EXPECT_EQ(path.rfind(dir, 0), 0u) << name;
    EXPECT_EQ(path.find('/', dir.size()), std::string::npos) << path;
  }
  EXPECT_NE(AutostartEntryPath("a/b"), AutostartEntryPath("a%2Fb"));
}

TEST(VersionTextTest, MajorMinorAndWarning) {
  const std::string two = "3.2\r\n", three = " 3.2.1 ", one = "7";
  VersionParts parts = ParseVersionText(&two);
  EXPECT_EQ(parts.major, "3");
  EXPECT_EQ(parts.minor, "2");
  EXPECT_FALSE(parts.warn);
  parts = ParseVersionText(&three);
  EXPECT_EQ(parts.major, "3");
  EXPECT_EQ(parts.minor, "2");
  EXPECT_TRUE(parts.warn);
  parts = ParseVersionText(&one);
  EXPECT_EQ(parts.major, "7");
  EXPECT_EQ(parts.minor, "");
  EXPECT_TRUE(parts.warn);
  parts = ParseVersionText(nullptr);
  EXPECT_EQ(parts.major, "unknown");
  EXPECT_EQ(parts.minor, "unknown");
}

}  // namespace
}  // namespace vesk
