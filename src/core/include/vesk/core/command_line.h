// The process command line: switches begin with "--" or "-", a value follows
// the first "=", names compare without regard to case, a later switch of the
// same name replaces an earlier one, and a lone "--" ends switch parsing.
// "/" is not a switch prefix here: on this platform it begins a path.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

class CommandLine {
 public:
  CommandLine() = default;
  // argv[0] is the program; the rest are parsed.
  static CommandLine FromArgv(const std::vector<std::string>& argv);
  // Reads /proc/self/cmdline.
  static CommandLine FromProcSelf();
  // Splits the NUL-separated contents of a /proc/<pid>/cmdline file.
  static std::vector<std::string> SplitProcCmdline(std::string_view contents);

  // The process-wide instance; Init replaces it (main thread, start-up only).
  static void InitForCurrentProcess(CommandLine command_line);
  static const CommandLine& ForCurrentProcess();

  bool HasSwitch(std::string_view name) const;
  // Empty when the switch is absent or has no value.
  std::string GetSwitchValue(std::string_view name) const;
  const std::map<std::string, std::string>& switches() const { return switches_; }
  const std::vector<std::string>& args() const { return args_; }
  const std::vector<std::string>& argv() const { return argv_; }
  const std::string& program() const { return program_; }

 private:
  std::string program_;
  std::vector<std::string> argv_;
  std::map<std::string, std::string> switches_;  // keys in lower case
  std::vector<std::string> args_;
};

std::string AsciiLower(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace vesk
