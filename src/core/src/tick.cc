#include "vesk/core/tick.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace vesk {

uint32_t TickCount32() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

long CurrentThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

}  // namespace vesk
