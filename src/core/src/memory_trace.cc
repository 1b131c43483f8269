#include "vesk/core/memory_trace.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "vesk/core/file_util.h"

namespace vesk {
namespace {

constexpr size_t kMaxProcFileBytes = 1 << 20;

std::optional<std::string> ReadProcFile(const char* path) {
  std::string contents;
  if (!ReadFileToString(path, &contents, kMaxProcFileBytes)) return std::nullopt;
  return contents;
}

}  // namespace

std::optional<uint64_t> ParseStatmResidentPages(const std::string& statm) {
  std::istringstream in(statm);
  uint64_t size = 0, resident = 0;
  if (!(in >> size >> resident)) return std::nullopt;
  return resident;
}

std::optional<uint64_t> ParseSmapsRollupPrivateBytes(const std::string& rollup) {
  std::istringstream in(rollup);
  std::string line;
  uint64_t total_kb = 0;
  bool found = false;
  while (std::getline(in, line)) {
    for (const char* key : {"Private_Clean:", "Private_Dirty:", "Swap:"}) {
      const std::string prefix(key);
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      std::istringstream field(line.substr(prefix.size()));
      uint64_t kb = 0;
      if (field >> kb) {
        total_kb += kb;
        found = true;
      }
    }
  }
  if (!found) return std::nullopt;
  return total_kb * 1024;
}

std::optional<uint64_t> ParseStatFaults(const std::string& stat) {
  // The command name (field 2) may hold spaces and parentheses; the fields
  // after the last ')' are fixed.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream in(stat.substr(close + 1));
  std::string field;
  uint64_t minor = 0, major = 0;
  // After ')': state(3) ppid pgrp session tty_nr tpgid flags minflt(10)
  // cminflt majflt(12).
  for (int index = 3; index <= 12; ++index) {
    if (!(in >> field)) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    if (index == 10 || index == 12) {
      const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
      if (*end != '\0' || errno != 0) return std::nullopt;
      (index == 10 ? minor : major) = value;
    }
  }
  return minor + major;
}

std::optional<ProcessMemoryCounters> ReadProcessMemoryCounters() {
  const auto statm = ReadProcFile("/proc/self/statm");
  const auto rollup = ReadProcFile("/proc/self/smaps_rollup");
  const auto stat = ReadProcFile("/proc/self/stat");
  if (!statm || !rollup || !stat) return std::nullopt;
  const auto resident = ParseStatmResidentPages(*statm);
  const auto private_bytes = ParseSmapsRollupPrivateBytes(*rollup);
  const auto faults = ParseStatFaults(*stat);
  if (!resident || !private_bytes || !faults) {
    errno = EINVAL;
    return std::nullopt;
  }
  ProcessMemoryCounters counters;
  counters.working_set = *resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  counters.private_usage = *private_bytes;
  counters.page_faults = *faults;
  return counters;
}

std::string FormatMemoryTraceLine(long pid, long tid, const std::tm& local_time, uint32_t tick,
                                  const ProcessMemoryCounters& counters) {
  char head[96];
  std::snprintf(head, sizeof head, "[%ld:%ld:%2d%2d/%2d%2d%2d:%u]", pid, tid, local_time.tm_mon + 1,
                local_time.tm_mday, local_time.tm_hour, local_time.tm_min, local_time.tm_sec, tick);
  std::string line(head);
  line += "WorkingSet(" + std::to_string(counters.working_set) + ") PrivateUsage(" +
          std::to_string(counters.private_usage) + ") PageFaultCount(" +
          std::to_string(counters.page_faults) + ")\n";
  return line;
}

TraceInterval ParseMemoryTraceInterval(const std::optional<std::string>& value) {
  TraceInterval interval;
  if (!value) return interval;
  const std::string& text = *value;
  char* end = nullptr;
  errno = 0;
  const long long parsed = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
  const bool whole = !text.empty() && end && *end == '\0' && errno == 0 &&
                     !std::isspace(static_cast<unsigned char>(text.front()));
  if (!whole || parsed <= 0) {
    interval.value_rejected = true;
    return interval;
  }
  interval.milliseconds = parsed;
  return interval;
}

}  // namespace vesk
