#include "vesk/core/ipc/ipc_wire.h"

#include <json/json.h>

#include <cmath>
#include <limits>
#include <memory>

#include "vesk/core/logging.h"

namespace vesk::ipc {
namespace {

// A message is one flat object; deeper nesting is refused as "not JSON".
constexpr int kMaxIpcJsonDepth = 32;

void PutLittleEndian32(uint32_t value, unsigned char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// JsonCpp's own isInt() answers this too, but the rule is part of the wire
// contract, so it is written out: an integer, or a real with a whole value,
// inside the signed 32-bit range.
bool IsWholeInt32(const Json::Value& value) {
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (value.isInt64()) {
    const Json::Int64 number = value.asInt64();
    return number >= static_cast<Json::Int64>(kMin) && number <= static_cast<Json::Int64>(kMax);
  }
  if (value.isUInt64()) return value.asUInt64() <= static_cast<Json::UInt64>(kMax);
  if (value.isDouble()) {
    const double number = value.asDouble();
    return std::isfinite(number) && std::trunc(number) == number && number >= kMin && number <= kMax;
  }
  return false;
}

const Json::Value* FindMember(const Json::Value& object, std::string_view name) {
  return object.find(name.data(), name.data() + name.size());
}

}  // namespace

std::array<unsigned char, kIpcRequestBytes> EncodeIpcRequest(const IpcRequest& request) {
  std::array<unsigned char, kIpcRequestBytes> bytes{};
  PutLittleEndian32(request.message, bytes.data());
  PutLittleEndian32(request.receiver_pid, bytes.data() + 4);
  PutLittleEndian32(request.tick, bytes.data() + 8);
  return bytes;
}

uint32_t DecodeLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

IpcRequest DecodeIpcRequest(const unsigned char* bytes) {
  return IpcRequest{DecodeLittleEndian32(bytes), DecodeLittleEndian32(bytes + 4),
                    DecodeLittleEndian32(bytes + 8)};
}

std::array<unsigned char, kIpcAnswerBytes> EncodeIpcAnswer() {
  std::array<unsigned char, kIpcAnswerBytes> bytes{};
  PutLittleEndian32(kIpcAnswerValue, bytes.data());
  return bytes;
}

std::string IpcSectionName(uint32_t receiver_pid, uint32_t tick) {
  return "/vesk_ipc_" + std::to_string(receiver_pid) + "_" + std::to_string(tick);
}

std::string SerializeIpcMessage(const IpcMessage& message) {
  Json::Value root(Json::objectValue);
  root["id"] = message.id;
  root["data"] = message.data;
  // FastWriter sorts the keys and ends with a line feed: the format peers of
  // the same program expect.
  Json::FastWriter writer;
  return writer.write(root);
}

std::optional<IpcMessage> ParseIpcMessageText(std::string_view text) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["failIfExtra"] = true;
  builder["stackLimit"] = kMaxIpcJsonDepth;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    // JsonCpp throws, rather than fails, on nesting beyond the limit.
    parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const Json::Exception&) {
    parsed = false;
  }
  if (!parsed) {
    VESK_LOG(ERROR) << "IPCData Parse Failed: " << text;
    return std::nullopt;
  }
  const Json::Value* id = root.isObject() ? FindMember(root, "id") : nullptr;
  const Json::Value* data = root.isObject() ? FindMember(root, "data") : nullptr;
  if (!id || !data || !IsWholeInt32(*id) || !data->isString()) {
    VESK_LOG(ERROR) << "IPCData Json Data Parse Failed: " << text;
    return std::nullopt;
  }
  IpcMessage message;
  message.id = id->isInt64() ? static_cast<int32_t>(id->asInt64()) : static_cast<int32_t>(id->asDouble());
  message.data = data->asString();
  return message;
}

}  // namespace vesk::ipc
