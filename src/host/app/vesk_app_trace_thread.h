// Writes the process's memory use to "memory.log" at a fixed interval, on a
// thread of its own so the main loop is never delayed by it.
#pragma once

#include <cstdint>
#include <string>

#include "vesk/core/task_thread.h"

namespace vesk {

class VeskAppTraceThread {
 public:
  explicit VeskAppTraceThread(std::string name);
  ~VeskAppTraceThread();

  void set_interval_us(int64_t interval_us) { interval_us_ = interval_us; }
  int64_t interval_us() const { return interval_us_; }

  // Writes the separator and schedules the first line one interval from now;
  // does nothing unless the interval is positive.
  void Start(const std::string& log_dir);

 private:
  static void TraceTask(TaskThread* thread, std::string path, int64_t interval_us);

  TaskThread thread_;
  int64_t interval_us_ = 0;
};

// Reads enable-memory-trace and memory-trace-elapse and starts |thread|.
void StartMemoryTraceFromCommandLine(VeskAppTraceThread* thread, const std::string& log_dir);

}  // namespace vesk
