#include "vesk/core/channel/channel_schema.h"

#include <memory>
#include <sstream>

namespace vesk::channel {
namespace {

// Building a JsonCpp writer or reader costs more than using it; each thread
// keeps one of each.
std::string Write(const Json::Value& value) {
  thread_local std::unique_ptr<Json::StreamWriter> writer = [] {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
  }();
  std::ostringstream out;
  writer->write(value, &out);
  return out.str();
}

std::optional<Json::Value> Parse(std::string_view text) {
  if (text.size() > kMaxFrameBytes) return std::nullopt;
  thread_local std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["stackLimit"] = 64;
    builder["rejectDupKeys"] = true;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  Json::Value root;
  std::string errors;
  try {
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return std::nullopt;
  } catch (const Json::Exception&) {
    return std::nullopt;
  }
  if (!root.isObject() || !root["v"].isInt() || root["v"].asInt() != kVersion) return std::nullopt;
  return root;
}

}  // namespace

const char* ErrorText(Error error) {
  switch (error) {
    case Error::kOk:
      return "ok";
    case Error::kBadRequest:
      return "bad request";
    case Error::kUnknownOp:
      return "unknown operation";
    case Error::kNoWindow:
      return "the window is gone";
    case Error::kVersionMismatch:
      return "version mismatch";
    case Error::kTooLarge:
      return "message too large";
    case Error::kTimeout:
      return "the host did not answer";
    case Error::kNotConnected:
      return "no channel to the host";
    case Error::kRefused:
      return "refused";
  }
  return "unknown error";
}

std::string EncodeRequest(const Request& request) {
  Json::Value root(Json::objectValue);
  root["v"] = kVersion;
  root["op"] = static_cast<Json::UInt>(request.op);
  root["page"] = static_cast<Json::UInt64>(request.page_id);
  root["args"] = request.args.isObject() ? request.args : Json::Value(Json::objectValue);
  return Write(root);
}

std::string EncodeResponse(const Response& response) {
  Json::Value root(Json::objectValue);
  root["v"] = kVersion;
  root["error"] = static_cast<Json::UInt>(response.error);
  root["result"] = response.result.isObject() ? response.result : Json::Value(Json::objectValue);
  return Write(root);
}

std::optional<Request> DecodeRequest(std::string_view json) {
  const auto root = Parse(json);
  if (!root || !(*root)["op"].isUInt() || !(*root)["page"].isUInt64() || !(*root)["args"].isObject())
    return std::nullopt;
  Request request;
  request.op = static_cast<Op>((*root)["op"].asUInt());
  request.page_id = (*root)["page"].asUInt64();
  request.args = (*root)["args"];
  return request;
}

std::optional<Response> DecodeResponse(std::string_view json) {
  const auto root = Parse(json);
  if (!root || !(*root)["error"].isUInt() || !(*root)["result"].isObject()) return std::nullopt;
  Response response;
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

}  // namespace vesk::channel
