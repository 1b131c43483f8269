// Debugging switches acted on when the library is loaded, before anything
// else: start the registered debugger and wait for it, or crash on purpose.
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/load_time_switches.h"
#include "vesk/core/registry.h"

namespace vesk {
namespace {

constexpr char kAeDebugKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

void SpawnRegisteredDebugger() {
  const RegistryStore machine(RegistryStore::Scope::kMachine);
  const auto command = machine.ReadString(kAeDebugKey, "Debugger");
  if (!command || command->empty()) return;
  const std::string expanded = ExpandDebuggerCommand(*command, static_cast<long>(::getpid()));
  g_auto(GStrv) argv = nullptr;
  if (!g_shell_parse_argv(expanded.c_str(), nullptr, &argv, nullptr)) return;
  g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr);
}

bool TracerAttached() {
  std::string status;
  return ReadFileToString("/proc/self/status", &status, 1 << 20) && ParseTracerPid(status) != 0;
}

void WaitForDebugger(uint32_t wait_seconds) {
  const uint64_t attempts = static_cast<uint64_t>(wait_seconds) * 10;
  for (uint64_t i = 0; i < attempts; ++i) {
    if (TracerAttached()) {
      ::raise(SIGTRAP);
      return;
    }
    ::usleep(100 * 1000);
  }
}

[[gnu::noinline]] void ForceCrash() {
  volatile int* volatile target = nullptr;
  *target = 0;
}

__attribute__((constructor)) void RunLoadTimeSwitches() {
  try {
    std::vector<std::string> args = CommandLine::FromProcSelf().argv();
    if (!args.empty()) args.erase(args.begin());  // the program path is no switch
    const LoadTimeSwitches switches = ReadLoadTimeSwitches(args);
    if (switches.debug_on_startup) {
      SpawnRegisteredDebugger();
      WaitForDebugger(switches.wait_seconds);
    } else if (switches.force_crash) {
      ForceCrash();
    }
  } catch (...) {
    // Debugging aids never stop the program from starting. Not Guarded:
    // this runs while the libraries load, before logging may be used.
  }
}

}  // namespace
}  // namespace vesk
