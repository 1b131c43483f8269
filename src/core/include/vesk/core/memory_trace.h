// The memory trace line and the counters it reports.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vesk {

inline constexpr int64_t kDefaultMemoryTraceIntervalMs = 1000;
inline constexpr char kMemoryTraceSeparator[] = "============================\n";
inline constexpr char kMemoryLogFileName[] = "memory.log";

struct ProcessMemoryCounters {
  uint64_t working_set = 0;    // resident set, bytes
  uint64_t private_usage = 0;  // private (anonymous and private file) bytes
  uint64_t page_faults = 0;    // minor + major faults
};

// /proc/self/statm, smaps_rollup and stat. Nothing when they cannot be read.
std::optional<ProcessMemoryCounters> ReadProcessMemoryCounters();
// Parsers of those files' contents, exposed for tests.
std::optional<uint64_t> ParseStatmResidentPages(const std::string& statm);
std::optional<uint64_t> ParseSmapsRollupPrivateBytes(const std::string& rollup);
std::optional<uint64_t> ParseStatFaults(const std::string& stat);

// "[pid:tid:MM DD/hh mm ss:tick]WorkingSet(n) PrivateUsage(n) PageFaultCount(n)\n"
// with the date and time fields right-aligned in two columns padded with spaces.
std::string FormatMemoryTraceLine(long pid, long tid, const std::tm& local_time, uint32_t tick,
                                  const ProcessMemoryCounters& counters);

struct TraceInterval {
  int64_t milliseconds = kDefaultMemoryTraceIntervalMs;
  bool value_rejected = false;  // the caller logs the warning
};

// The memory-trace-elapse value: a signed 64-bit decimal number that must be
// positive; absent means the default without a warning.
TraceInterval ParseMemoryTraceInterval(const std::optional<std::string>& value);

}  // namespace vesk
