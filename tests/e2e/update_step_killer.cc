// Carries out the restart-time update of a program directory the way the
// program's start does (recovery, then the flags), and kills itself with
// SIGKILL before its N-th file operation. Without a kill point, or when
// the update has fewer operations, it prints how many it made.
//
//   update_step_killer <program dir> <kill at: 0 = never>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/update/check_update_flag.h"
#include "vesk/core/update/package_swap.h"

namespace {

int g_steps = 0;
int g_kill_at = 0;

void CountOrKill(const char*) {
  if (++g_steps == g_kill_at) ::kill(::getpid(), SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: update_step_killer <program dir> <kill at>\n");
    return 2;
  }
  const std::string program_dir = argv[1];
  g_kill_at = std::atoi(argv[2]);
  vesk::logging::InitLogging(vesk::JoinPath(program_dir, "pelicard.log"));
  vesk::update::SetUpdateStepObserver(&CountOrKill);
  vesk::update::RecoverPackageSet(program_dir);
  bool installer_started = false;
  vesk::update::CheckUpdateFlag(program_dir, &installer_started);
  std::printf("%d\n", g_steps);
  return 0;
}
