#include "vesk/core/channel/channel_schema.h"

#include <sched.h>

#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>

#include "flat_json.h"

namespace vesk::channel {
namespace {

// How deep a whole message may nest; its payload one less.
constexpr int kStackLimit = 64;

// Building a JsonCpp writer, reader or stream costs more than using them;
// each thread keeps its own.
void AppendJson(const Json::Value& value, std::string* out) {
  if (AppendFlatObject(value, out)) return;
  thread_local std::unique_ptr<Json::StreamWriter> writer = [] {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
  }();
  thread_local std::ostringstream stream;
  stream.str(std::string());
  stream.clear();
  writer->write(value, &stream);
  *out += stream.view();
}

std::unique_ptr<Json::CharReader> NewReader(int stack_limit, bool fail_if_extra = false) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = stack_limit;
  builder["rejectDupKeys"] = true;
  builder["failIfExtra"] = fail_if_extra;
  return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

std::optional<Json::Value> ParseWith(Json::CharReader& reader, std::string_view text) {
  Json::Value root;
  std::string errors;
  try {
    if (!reader.parse(text.data(), text.data() + text.size(), &root, &errors)) return std::nullopt;
  } catch (const Json::Exception&) {
    return std::nullopt;
  }
  return root;
}

std::optional<Json::Value> Parse(std::string_view text) {
  thread_local std::unique_ptr<Json::CharReader> reader = NewReader(kStackLimit);
  auto root = ParseWith(*reader, text);
  if (!root || !root->isObject() || !(*root)["v"].isInt() || (*root)["v"].asInt() != kVersion)
    return std::nullopt;
  return root;
}

// The messages of this channel are written in one layout: the version,
// unsigned numbers, then the payload object up to the closing brace, e.g.
//   {"v":1,"op":27,"page":4,"args":{}}
// A message in that layout is read without parsing its envelope as JSON.
// Anything else, and anything this reading refuses, goes to the full JSON
// reader: what is accepted, and what it reads as, stays the same.
struct Number {
  std::string_view name;  // with its quotes and colon: "\"op\":"
  uint64_t max = 0;
  uint64_t value = 0;
};

bool TakeLiteral(std::string_view* text, std::string_view literal) {
  if (text->substr(0, literal.size()) != literal) return false;
  text->remove_prefix(literal.size());
  return true;
}

// Digits only: no sign, no leading zero, no fraction or exponent.
bool TakeUnsigned(std::string_view* text, Number* number) {
  size_t length = 0;
  uint64_t value = 0;
  while (length < text->size() && (*text)[length] >= '0' && (*text)[length] <= '9') {
    const auto digit = static_cast<uint64_t>((*text)[length] - '0');
    if (value > (number->max - digit) / 10) return false;
    value = value * 10 + digit;
    ++length;
  }
  if (length == 0 || (length > 1 && (*text)[0] == '0')) return false;
  text->remove_prefix(length);
  number->value = value;
  return true;
}

std::optional<Json::Value> ReadLayout(std::string_view text, std::initializer_list<Number*> numbers,
                                      std::string_view payload_name) {
  static_assert(kVersion == 1, "the layout's prefix names the version");
  // JsonCpp takes a NUL for the end of its text: in the payload alone that
  // would hide what follows it from the reading.
  if (text.find('\0') != std::string_view::npos || !TakeLiteral(&text, "{\"v\":1,")) return std::nullopt;
  for (Number* number : numbers)
    if (!TakeLiteral(&text, number->name) || !TakeUnsigned(&text, number) || !TakeLiteral(&text, ","))
      return std::nullopt;
  if (!TakeLiteral(&text, payload_name) || !text.ends_with('}')) return std::nullopt;
  text.remove_suffix(1);
  // The payload of most messages: no members, or a few numbers.
  if (auto flat = ReadFlatObject(text)) return flat;
  // Text after the payload's object would end the whole message early for
  // the full reader, which then refuses it; so does this one.
  thread_local std::unique_ptr<Json::CharReader> reader = NewReader(kStackLimit - 1, true);
  auto payload = ParseWith(*reader, text);
  if (!payload || !payload->isObject()) return std::nullopt;
  return payload;
}

void AppendLayout(std::initializer_list<Number> numbers, std::string_view payload_name,
                  const Json::Value& payload, std::string* out) {
  *out += "{\"v\":1,";
  for (const Number& number : numbers) {
    *out += number.name;
    *out += std::to_string(number.value);
    *out += ',';
  }
  *out += payload_name;
  AppendJson(payload.isObject() ? payload : Json::Value(Json::objectValue), out);
  *out += '}';
}

constexpr std::string_view kOpName = "\"op\":", kPageName = "\"page\":", kArgsName = "\"args\":";
constexpr std::string_view kErrorName = "\"error\":", kResultName = "\"result\":";
constexpr uint64_t kMaxUInt = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kMaxUInt64 = std::numeric_limits<uint64_t>::max();

}  // namespace

const char* ErrorText(Error error) {
  // Indexed by the error's number.
  static constexpr const char* kTexts[] = {"ok",
                                           "bad request",
                                           "unknown operation",
                                           "the window is gone",
                                           "version mismatch",
                                           "message too large",
                                           "the host did not answer",
                                           "no channel to the host",
                                           "refused"};
  static_assert(std::size(kTexts) == static_cast<size_t>(Error::kRefused) + 1);
  const auto index = static_cast<size_t>(error);
  return index < std::size(kTexts) ? kTexts[index] : "unknown error";
}

std::string EncodeRequest(const Request& request) {
  std::string out;
  AppendLayout(
      {{kOpName, kMaxUInt, static_cast<uint32_t>(request.op)}, {kPageName, kMaxUInt64, request.page_id}},
      kArgsName, request.args, &out);
  return out;
}

std::string EncodeResponse(const Response& response) {
  std::string out;
  AppendLayout({{kErrorName, kMaxUInt, static_cast<uint32_t>(response.error)}}, kResultName, response.result,
               &out);
  return out;
}

std::optional<Request> DecodeRequest(std::string_view json) {
  if (json.size() > kMaxFrameBytes) return std::nullopt;
  Request request;
  Number op{kOpName, kMaxUInt}, page{kPageName, kMaxUInt64};
  if (auto args = ReadLayout(json, {&op, &page}, kArgsName)) {
    request.op = static_cast<Op>(op.value);
    request.page_id = page.value;
    request.args = std::move(*args);
    return request;
  }
  const auto root = Parse(json);
  if (!root || !(*root)["op"].isUInt() || !(*root)["page"].isUInt64() || !(*root)["args"].isObject())
    return std::nullopt;
  request.op = static_cast<Op>((*root)["op"].asUInt());
  request.page_id = (*root)["page"].asUInt64();
  request.args = (*root)["args"];
  return request;
}

std::optional<Response> DecodeResponse(std::string_view json) {
  if (json.size() > kMaxFrameBytes) return std::nullopt;
  Response response;
  Number error{kErrorName, kMaxUInt};
  if (auto result = ReadLayout(json, {&error}, kResultName)) {
    response.error = static_cast<Error>(error.value);
    response.result = std::move(*result);
    return response;
  }
  const auto root = Parse(json);
  if (!root || !(*root)["error"].isUInt() || !(*root)["result"].isObject()) return std::nullopt;
  response.error = static_cast<Error>((*root)["error"].asUInt());
  response.result = (*root)["result"];
  return response;
}

std::string Frame(std::string_view payload) {
  const uint32_t size = static_cast<uint32_t>(payload.size());
  std::string framed;
  framed.reserve(payload.size() + 4);
  for (int shift = 0; shift < 32; shift += 8) framed += static_cast<char>((size >> shift) & 0xFF);
  framed.append(payload);
  return framed;
}

FrameReader::Status FrameReader::Next(std::string* payload) {
  if (buffer_.size() < 4) return Status::kNeedMore;
  uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size |= static_cast<uint32_t>(static_cast<unsigned char>(buffer_[i])) << (8 * i);
  if (size > kMaxFrameBytes) return Status::kTooLarge;
  if (buffer_.size() - 4 < size) return Status::kNeedMore;
  payload->assign(buffer_, 4, size);
  buffer_.erase(0, 4 + static_cast<size_t>(size));
  return Status::kFrame;
}

std::chrono::microseconds AwakeWaitForPeer() {
  static const std::chrono::microseconds wait = [] {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const bool one_cpu = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) <= 1;
    return std::chrono::microseconds(one_cpu ? 0 : 50);
  }();
  return wait;
}

}  // namespace vesk::channel
