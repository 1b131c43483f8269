// The UI process's IO worker: vesk:// loads run here and finish on the main
// thread. Drained once at shutdown.
#pragma once

#include "vesk/core/task_thread.h"

namespace vesk {

TaskThread& IoThread();
// Returns once every task posted to the IO worker before the call has run.
// Must not be called on the IO worker.
void WaitForIoThread();

}  // namespace vesk
