// What the UI process tells the extension at start-up: it reads no
// configuration of its own.
#pragma once

#include <string>

namespace plugin {

struct ExtensionState {
  std::string program_dir;
  std::string log_path;
  // The UI process's executable, as the desktop would start it again.
  std::string executable_path;
  static ExtensionState& Get();
};

}  // namespace plugin
