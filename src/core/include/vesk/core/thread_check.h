// Which thread code runs on. Most of both processes' code belongs to the
// main thread: the toolkit, the engine's callbacks, the script objects, the
// page channel. Functions that must run there begin with
// VESK_REQUIRE_MAIN_THREAD(), a debug check that reports a caller on
// another thread ("Check failed: CurrentlyOnMainThread(). ").
#pragma once

#include "vesk/core/logging.h"

namespace vesk {

// True on the thread the process started with.
bool CurrentlyOnMainThread();

}  // namespace vesk

#define VESK_REQUIRE_MAIN_THREAD() \
  VESK_DCHECK_TEXT(::vesk::CurrentlyOnMainThread(), "CurrentlyOnMainThread()")
