// The restart-time update, carried out once per start before any window:
// start a downloaded installer (and end), clean up after one, or install
// downloaded packages.
#pragma once

#include <string>

namespace vesk::update {

// |installer_started| is set when an installer was started: the caller then
// creates no window and ends. False only when |program_dir| is empty.
bool CheckUpdateFlag(const std::string& program_dir, bool* installer_started);
bool CheckUpdateFlagForQbun(const std::string& program_dir);
void DoUpdateWorkForQbnu(const std::string& program_dir, const std::string& flag_path);

}  // namespace vesk::update
