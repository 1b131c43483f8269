#include "io_thread.h"

#include "vesk/core/logging.h"

namespace vesk {

TaskThread& IoThread() {
  static TaskThread* thread = new TaskThread("VeskIO");
  return *thread;
}

void WaitForIoThread() {
  TaskThread& thread = IoThread();
  const bool on_io_thread = thread.IsCurrent();
  VESK_DCHECK_TEXT(!on_io_thread, "!CefCurrentlyOn(thread_id)");
  if (on_io_thread) return;
  thread.Drain();
}

}  // namespace vesk
