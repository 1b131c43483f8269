#include "app/vesk_app_trace_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>

#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/memory_trace.h"
#include "vesk/core/switches.h"
#include "vesk/core/tick.h"

namespace vesk {
namespace {

// Longer intervals are clamped so the deadline arithmetic cannot overflow.
constexpr int64_t kMaxIntervalUs = int64_t{24} * 3600 * 1000 * 1000;

void AppendToFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;  // the line is lost; the next interval tries again
  const ssize_t written = ::write(fd, text.data(), text.size());
  (void)written;
  ::close(fd);
}

}  // namespace

VeskAppTraceThread::VeskAppTraceThread(std::string name) : thread_(std::move(name)) {}

VeskAppTraceThread::~VeskAppTraceThread() { thread_.Stop(); }

void VeskAppTraceThread::Start(const std::string& log_dir) {
  if (interval_us_ <= 0) return;
  const std::string path = JoinPath(log_dir, kMemoryLogFileName);
  AppendToFile(path, kMemoryTraceSeparator);
  thread_.Start();
  const int64_t interval = std::min(interval_us_, kMaxIntervalUs);
  TaskThread* thread = &thread_;
  thread_.PostDelayedTask([thread, path, interval] { TraceTask(thread, path, interval); },
                          std::chrono::milliseconds(interval / 1000));
}

void VeskAppTraceThread::TraceTask(TaskThread* thread, std::string path, int64_t interval_us) {
  const auto counters = ReadProcessMemoryCounters();
  if (!counters) {
    VESK_PLOG(ERROR) << "GetProcessMemoryInfo failed";
    return;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  AppendToFile(path, FormatMemoryTraceLine(::getpid(), CurrentThreadId(), local, TickCount32(), *counters));
  thread->PostDelayedTask([thread, path, interval_us] { TraceTask(thread, path, interval_us); },
                          std::chrono::milliseconds(interval_us / 1000));
}

void StartMemoryTraceFromCommandLine(VeskAppTraceThread* thread, const std::string& log_dir) {
  if (!thread) return;
  const CommandLine& command_line = CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch(switches::kEnableMemoryTrace)) return;
  std::optional<std::string> value;
  if (command_line.HasSwitch(switches::kMemoryTraceElapse))
    value = command_line.GetSwitchValue(switches::kMemoryTraceElapse);
  const TraceInterval interval = ParseMemoryTraceInterval(value);
  if (interval.value_rejected) {
    VESK_LOG(WARNING) << switches::kMemoryTraceElapse
                      << " should be positive number, use default value:" << kDefaultMemoryTraceIntervalMs;
  }
  thread->set_interval_us(std::min(interval.milliseconds, kMaxIntervalUs / 1000) * 1000);
  thread->Start(log_dir);
}

}  // namespace vesk
