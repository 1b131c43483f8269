// Starting a downloaded installer: detached from this process (its own
// session, not our child once started), so it can replace the program's
// files after we end.
#pragma once

#include <string>
#include <vector>

namespace vesk::update {

// The environment without the variables this program sets for itself
// (GIO module selection for the engine, VESK_*), as "NAME=value" entries;
// values of the user's that we replaced (VESK_SAVED_<name>) are given back.
std::vector<std::string> ChildEnvironment(const char* const* environment);

// Makes |installer| executable for its owner and runs it with the two
// arguments "/S" and "/D=<program_dir>" (the directory in one argument, as
// it is). True once the program is running; false when it could not be
// made executable or started (errno tells why). No shell is involved: a
// file that is no program is not handed to one.
bool LaunchInstaller(const std::string& installer, const std::string& program_dir);

}  // namespace vesk::update
