// The qbun command line: pack, verify, list, cat.
#pragma once

#include <string>
#include <vector>

namespace vesk::qbun {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// |args| without the program name. Output goes to stdout, messages to stderr.
int RunQbun(const std::vector<std::string>& args);

}  // namespace vesk::qbun
