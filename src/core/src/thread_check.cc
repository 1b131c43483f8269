#include "vesk/core/thread_check.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace vesk {

bool CurrentlyOnMainThread() {
  // On Linux the main thread's id is the process id. Cached per thread: a
  // thread never changes, and fork keeps only the forking thread, which the
  // child's getpid() then names.
  thread_local pid_t cached_pid = 0;
  thread_local bool on_main = false;
  const pid_t pid = ::getpid();
  if (cached_pid != pid) {
    cached_pid = pid;
    on_main = static_cast<pid_t>(::syscall(SYS_gettid)) == pid;
  }
  return on_main;
}

}  // namespace vesk
