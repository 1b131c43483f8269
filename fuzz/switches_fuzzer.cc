// The process command line as the kernel hands it over: NUL-separated
// arguments. Every parser that reads it must cope with any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vesk/core/command_line.h"
#include "vesk/core/ipc_message.h"
#include "vesk/core/load_time_switches.h"
#include "vesk/core/memory_trace.h"
#include "vesk/core/start_url.h"
#include "vesk/core/switches.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const auto argv = vesk::CommandLine::SplitProcCmdline(raw);
  const vesk::CommandLine command_line = vesk::CommandLine::FromArgv(argv);
  (void)vesk::ComposeStartUrl("vesk://vesk/res/app_init.html", command_line);
  (void)vesk::DecideSecondInstanceMessage(command_line);
  (void)vesk::ParseMemoryTraceInterval(command_line.GetSwitchValue(vesk::switches::kMemoryTraceElapse));
  (void)vesk::ReadLoadTimeSwitches(argv);
  (void)vesk::ParseDebuggerWaitSeconds(std::string(raw));
  (void)vesk::ParseTracerPid(raw);
  (void)vesk::ExpandDebuggerCommand(raw, 1234);
  return 0;
}
