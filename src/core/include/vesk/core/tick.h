#pragma once

#include <cstdint>

namespace vesk {

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits, like a tick count.
uint32_t TickCount32();

// The kernel's id of the calling thread.
long CurrentThreadId();

}  // namespace vesk
