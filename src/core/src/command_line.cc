#include "vesk/core/command_line.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

namespace vesk {
namespace {

// Returns the switch text after its prefix, or nothing when |arg| is not a
// switch. A lone "-" is an ordinary argument.
std::optional<std::string_view> StripSwitchPrefix(std::string_view arg) {
  for (std::string_view prefix : {std::string_view("--"), std::string_view("-")}) {
    if (arg.size() > prefix.size() && arg.substr(0, prefix.size()) == prefix)
      return arg.substr(prefix.size());
  }
  return std::nullopt;
}

std::unique_ptr<CommandLine>& CurrentSlot() {
  static std::unique_ptr<CommandLine> current;
  return current;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

CommandLine CommandLine::FromArgv(const std::vector<std::string>& argv) {
  CommandLine result;
  result.argv_ = argv;
  if (argv.empty()) return result;
  result.program_ = argv[0];
  bool switches_allowed = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (switches_allowed && arg == "--") {
      switches_allowed = false;
      continue;
    }
    const auto body = switches_allowed ? StripSwitchPrefix(arg) : std::nullopt;
    if (!body) {
      result.args_.push_back(arg);
      continue;
    }
    const size_t eq = body->find('=');
    std::string name = AsciiLower(body->substr(0, eq));
    std::string value = eq == std::string_view::npos ? std::string() : std::string(body->substr(eq + 1));
    result.switches_[std::move(name)] = std::move(value);
  }
  return result;
}

std::vector<std::string> CommandLine::SplitProcCmdline(std::string_view contents) {
  std::vector<std::string> argv;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\0', start);
    if (end == std::string_view::npos) end = contents.size();
    argv.emplace_back(contents.substr(start, end - start));
    start = end + 1;
  }
  return argv;
}

CommandLine CommandLine::FromProcSelf() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return FromArgv(SplitProcCmdline(contents));
}

void CommandLine::InitForCurrentProcess(CommandLine command_line) {
  CurrentSlot() = std::make_unique<CommandLine>(std::move(command_line));
}

const CommandLine& CommandLine::ForCurrentProcess() {
  std::unique_ptr<CommandLine>& slot = CurrentSlot();
  if (!slot) slot = std::make_unique<CommandLine>(FromProcSelf());
  return *slot;
}

bool CommandLine::HasSwitch(std::string_view name) const { return switches_.count(AsciiLower(name)) != 0; }

std::string CommandLine::GetSwitchValue(std::string_view name) const {
  const auto it = switches_.find(AsciiLower(name));
  return it == switches_.end() ? std::string() : it->second;
}

}  // namespace vesk
