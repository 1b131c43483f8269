#include "io_thread.h"

#include "vesk/core/logging.h"

namespace vesk {

TaskThread& IoThread() {
  static TaskThread* thread = new TaskThread("VeskIO");
  return *thread;
}

void WaitForIoThread() {
  TaskThread& thread = IoThread();
  if (thread.IsCurrent()) {
    if (logging::DchecksEnabled()) VESK_LOG(ERROR) << "Check failed: !CefCurrentlyOn(thread_id). ";
    return;
  }
  thread.Drain();
}

}  // namespace vesk
