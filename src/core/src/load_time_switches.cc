#include "vesk/core/load_time_switches.h"

#include "vesk/core/command_line.h"
#include "vesk/core/switches.h"

namespace vesk {
namespace {

// The text following the switch name in |arg|, or nothing when |arg| is not
// that switch.
std::optional<std::string_view> MatchSwitch(std::string_view arg, std::string_view name) {
  for (std::string_view prefix : {std::string_view("--"), std::string_view("-"), std::string_view("/")}) {
    if (arg.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = arg.substr(prefix.size());
    if (rest.size() < name.size() || !EqualsIgnoreAsciiCase(rest.substr(0, name.size()), name)) continue;
    rest.remove_prefix(name.size());
    if (rest.empty() || rest.front() == ' ' || rest.front() == '=') return rest;
  }
  return std::nullopt;
}

}  // namespace

bool HasLoadTimeSwitch(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& arg : args)
    if (MatchSwitch(arg, name)) return true;
  return false;
}

std::optional<std::string> LoadTimeSwitchValue(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& arg : args) {
    const auto rest = MatchSwitch(arg, name);
    if (!rest || rest->empty() || rest->front() != '=') continue;
    std::string_view value = rest->substr(1);
    return std::string(value.substr(0, value.find(' ')));
  }
  return std::nullopt;
}

uint32_t ParseDebuggerWaitSeconds(const std::optional<std::string>& value) {
  if (!value || value->empty()) return kDefaultDebuggerWaitSeconds;
  std::string_view digits = *value;
  uint64_t base = 10;
  if (digits.size() >= 2 && digits.substr(0, 2) == "0x") {
    base = 16;
    digits.remove_prefix(2);
    if (digits.empty()) return kDefaultDebuggerWaitSeconds;
  } else if (digits.front() == '0') {
    base = 8;
    digits.remove_prefix(1);
  }
  uint64_t result = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kDefaultDebuggerWaitSeconds;
    result = result * base + static_cast<uint64_t>(c - '0');
    if (result > UINT32_MAX) return kDefaultDebuggerWaitSeconds;
  }
  return static_cast<uint32_t>(result);
}

LoadTimeSwitches ReadLoadTimeSwitches(const std::vector<std::string>& args) {
  LoadTimeSwitches result;
  result.debug_on_startup = HasLoadTimeSwitch(args, switches::kVeskDebugOnStartup);
  if (result.debug_on_startup) {
    result.wait_seconds =
        ParseDebuggerWaitSeconds(LoadTimeSwitchValue(args, switches::kVeskWaitForDebuggerTime));
  } else {
    result.force_crash = HasLoadTimeSwitch(args, switches::kForceCrash);
  }
  return result;
}

std::string ExpandDebuggerCommand(std::string_view command, long pid) {
  std::string result;
  int substitutions = 0;
  size_t pos = 0;
  while (pos < command.size()) {
    const size_t hit = command.find("%ld", pos);
    if (hit == std::string_view::npos) break;
    result.append(command.substr(pos, hit - pos));
    result += substitutions == 0 ? std::to_string(pid) : std::string("0");
    ++substitutions;
    pos = hit + 3;
  }
  result.append(command.substr(pos));
  return result;
}

}  // namespace vesk

namespace vesk {

long ParseTracerPid(std::string_view status) {
  constexpr std::string_view kKey = "TracerPid:";
  size_t pos = 0;
  while (pos < status.size()) {
    size_t end = status.find('\n', pos);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(pos, end - pos);
    if (line.substr(0, kKey.size()) == kKey) {
      line.remove_prefix(kKey.size());
      long value = 0;
      for (char c : line) {
        if (c == ' ' || c == '\t') continue;
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > 1 << 30) return 0;
      }
      return value;
    }
    pos = end + 1;
  }
  return 0;
}

}  // namespace vesk
