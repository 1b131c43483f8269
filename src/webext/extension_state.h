// What the UI process tells the extension at start-up: it reads no
// configuration of its own.
#pragma once

#include <string>
#include <vector>

#include "vesk/core/cross_origin_whitelist.h"
#include "vesk/core/plugin_origins.h"

namespace plugin {

struct ExtensionState {
  std::string program_dir;
  std::string log_path;
  // The UI process's executable, as the desktop would start it again.
  std::string executable_path;
  // The frames that get the script objects; none until the UI process said.
  vesk::PluginOriginList plugin_origins;
  // The cross-origin list, for cross_origin_guard.h.
  std::vector<vesk::CrossOriginEntry> cross_origin_entries;
  static ExtensionState& Get();
};

}  // namespace plugin
