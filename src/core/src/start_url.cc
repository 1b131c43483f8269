#include "vesk/core/start_url.h"

#include "vesk/core/switches.h"

namespace vesk {

StartUrlDecision ComposeStartUrl(std::string_view start_url, const CommandLine& command_line) {
  StartUrlDecision decision;
  decision.url = std::string(start_url);
  if (command_line.HasSwitch(switches::kVeskStartup)) {
    const std::string value = command_line.GetSwitchValue(switches::kVeskStartup);
    if (value == switches::kExitProcessValue) {
      decision.exit_process = true;
    } else if (!value.empty()) {
      decision.url += "?";
      decision.url += switches::kVeskStartup;
      decision.url += "=" + value;
    }
  } else if (command_line.HasSwitch(switches::kUploadExtension)) {
    decision.load_upload_request = true;
    decision.upload_value = command_line.GetSwitchValue(switches::kUploadExtension);
    decision.url += "?upload_ext=true";
  }
  return decision;
}

}  // namespace vesk
