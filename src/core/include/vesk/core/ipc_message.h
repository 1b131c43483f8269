// The instance messages a second start hands to the running instance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vesk/core/command_line.h"

namespace vesk {

enum IpcMessageId : int32_t {
  kForegroundMessage = 0,
  kUploadMessage = 1,
  kExitMessage = 2,
};

struct IpcMessage {
  int32_t id = kForegroundMessage;
  std::string data;
};

// upload-extension first, then vesk-startup=exit-process, else foreground.
// Any other vesk-startup value sends nothing.
std::optional<IpcMessage> DecideSecondInstanceMessage(const CommandLine& command_line);

}  // namespace vesk
