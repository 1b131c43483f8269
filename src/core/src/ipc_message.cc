#include "vesk/core/ipc_message.h"

#include "vesk/core/switches.h"

namespace vesk {

std::optional<IpcMessage> DecideSecondInstanceMessage(const CommandLine& command_line) {
  if (command_line.HasSwitch(switches::kUploadExtension))
    return IpcMessage{kUploadMessage, command_line.GetSwitchValue(switches::kUploadExtension)};
  if (command_line.HasSwitch(switches::kVeskStartup)) {
    if (command_line.GetSwitchValue(switches::kVeskStartup) == switches::kExitProcessValue)
      return IpcMessage{kExitMessage, switches::kExitProcessValue};
    return std::nullopt;
  }
  return IpcMessage{kForegroundMessage, std::string()};
}

}  // namespace vesk
