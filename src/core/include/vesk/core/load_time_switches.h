// The debugging switches read when the library is loaded, before anything
// else runs. They are matched on the raw arguments: an argument that begins
// with "--", "-" or "/" followed by the name (any case) and then the end of
// the argument, a space or "=". "/" is accepted here, and only here, because
// these switches are matched by hand on the raw text; a path such as
// "/tmp/force-crash" never matches, since the name must follow the prefix at
// the very start of the argument.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

inline constexpr uint32_t kDefaultDebuggerWaitSeconds = 60;

struct LoadTimeSwitches {
  bool debug_on_startup = false;
  uint32_t wait_seconds = kDefaultDebuggerWaitSeconds;
  bool force_crash = false;
};

// |args| excludes the program path.
bool HasLoadTimeSwitch(const std::vector<std::string>& args, std::string_view name);
// The text after "=" up to the next space; nothing when absent or without "=".
std::optional<std::string> LoadTimeSwitchValue(const std::vector<std::string>& args, std::string_view name);

// Unsigned 32-bit: base 16 after "0x", base 8 after any other leading "0",
// else base 10; only 0-9 count as digits in every base. Anything else, a
// missing value or a value beyond 32 bits gives 60.
uint32_t ParseDebuggerWaitSeconds(const std::optional<std::string>& value);

LoadTimeSwitches ReadLoadTimeSwitches(const std::vector<std::string>& args);

// Substitutes the first "%ld" of a registered debugger command with |pid| and
// a second one with 0 (there is no event handle to hand over here).
std::string ExpandDebuggerCommand(std::string_view command, long pid);

}  // namespace vesk

namespace vesk {
// The TracerPid field of /proc/<pid>/status contents; 0 when absent.
long ParseTracerPid(std::string_view status);
}  // namespace vesk
