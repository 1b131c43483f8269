// The instance channel's wire format, shared by every program that speaks it
// (docs/ipc-protocol.md describes it for outside programs):
// - request, sender to receiver socket: 12 bytes, three little-endian uint32:
//   kIpcRequestMessage, the receiver's pid, the sender's tick;
// - answer, receiver to sender: 4 bytes, little-endian uint32 0, written once
//   every listener has finished with the message;
// - the message itself travels in POSIX shared memory named
//   "/vesk_ipc_<pid>_<tick>": compact JSON {"data":"...","id":N}, a line
//   feed, a NUL, zeros after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/ipc_message.h"

namespace vesk::ipc {

// WM_APP + 1, kept as the request's first word.
inline constexpr uint32_t kIpcRequestMessage = 0x8001;
inline constexpr size_t kIpcRequestBytes = 12;
inline constexpr size_t kIpcAnswerBytes = 4;
inline constexpr uint32_t kIpcAnswerValue = 0;

// The largest section a receiver reads and a sender writes (text and NUL).
// An upload request carries the Base64 of one file path (at most PATH_MAX
// bytes, so about 5.5 KiB); 64 KiB leaves ample room and keeps a hostile
// sender from making the UI process map and parse megabytes.
inline constexpr size_t kMaxIpcSectionBytes = 64 * 1024;

struct IpcRequest {
  uint32_t message = kIpcRequestMessage;
  uint32_t receiver_pid = 0;  // wParam
  uint32_t tick = 0;          // lParam
};

std::array<unsigned char, kIpcRequestBytes> EncodeIpcRequest(const IpcRequest& request);
// Exactly kIpcRequestBytes bytes are read from |bytes|.
IpcRequest DecodeIpcRequest(const unsigned char* bytes);
std::array<unsigned char, kIpcAnswerBytes> EncodeIpcAnswer();
uint32_t DecodeLittleEndian32(const unsigned char* bytes);

// "/vesk_ipc_<pid>_<tick>" (decimal, unsigned, no padding): the POSIX name of
// the section "vesk_ipc_<pid>_<tick>".
std::string IpcSectionName(uint32_t receiver_pid, uint32_t tick);

// Json::FastWriter text of the message: {"data":"...","id":N} and a line
// feed (without the NUL, which the section adds).
std::string SerializeIpcMessage(const IpcMessage& message);

// Validates the text read from a section. Logs "IPCData Parse Failed: " +
// text when it is not JSON, "IPCData Json Data Parse Failed: " + text when
// "id" is not a whole number in the signed 32-bit range or "data" is not a
// string; other members are ignored.
std::optional<IpcMessage> ParseIpcMessageText(std::string_view text);

}  // namespace vesk::ipc
