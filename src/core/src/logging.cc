#include "vesk/core/logging.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "vesk/core/log_text.h"
#include "vesk/core/tick.h"

namespace vesk::logging {
namespace {

struct VmodulePattern {
  std::string pattern;
  int level;
};

// All mutable logging state, guarded by one mutex. Lines are rare enough that
// a single lock is cheaper than anything cleverer.
struct LogState {
  std::mutex mutex;
  int fd = -1;
  // The same file without O_APPEND (pwrite on an appending descriptor
  // ignores the offset), for the running cap.
  int trim_fd = -1;
  long long size_at_open = 0;
  std::string path;
  bool prefixes = false;
  int verbosity = 0;
  std::vector<VmodulePattern> vmodule;
  // Read on every debug check, also on hot paths: no lock.
#if defined(VESK_DCHECK_ALWAYS_ON)
  std::atomic<bool> dchecks{true};
#else
  std::atomic<bool> dchecks{false};
#endif
};

LogState& State() {
  // Leaked on purpose: lines may be written from destructors of other
  // process-wide objects at exit.
  static LogState* state = new LogState;
  return *state;
}

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

std::string BaseNameWithoutExtension(std::string_view file) {
  const size_t slash = file.find_last_of('/');
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  const size_t dot = file.find('.');
  if (dot != std::string_view::npos) file = file.substr(0, dot);
  return std::string(file);
}

}  // namespace

std::string LogFilePathFor(std::string_view log_dir, std::string_view executable_path) {
  std::string name;
  const size_t slash = executable_path.find_last_of('/');
  std::string_view file =
      slash == std::string_view::npos ? executable_path : executable_path.substr(slash + 1);
  if (file.empty()) {
    name = "debug.log";
  } else {
    const size_t dot = file.find_last_of('.');
    name = std::string(dot == std::string_view::npos || dot == 0 ? file : file.substr(0, dot));
  }
  std::string path(log_dir);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name + ".log";
}

// Moves the bytes from |from| to the end of the file to its start.
void DropLeadingBytes(int fd, long long from) {
  struct stat info {};
  if (from <= 0 || ::fstat(fd, &info) != 0 || info.st_size < from) return;
  std::vector<char> rest(static_cast<size_t>(info.st_size - from));
  if (::pread(fd, rest.data(), rest.size(), from) != static_cast<ssize_t>(rest.size())) return;
  if (::pwrite(fd, rest.data(), rest.size(), 0) == static_cast<ssize_t>(rest.size())) {
    if (::ftruncate(fd, static_cast<off_t>(rest.size())) != 0) {
      // Nothing sensible to do: the file keeps its old length.
    }
  }
}

// Keeps the last |max_bytes| of the file, from the first line that starts in
// them when |whole_lines| and they hold a line break.
void TrimOpenLogFile(int fd, long long max_bytes, bool whole_lines) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size <= max_bytes) return;
  long long from = info.st_size - max_bytes;
  if (whole_lines) {
    char buffer[4096];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, from);
    const void* newline = got > 0 ? std::memchr(buffer, '\n', static_cast<size_t>(got)) : nullptr;
    if (newline) from += static_cast<const char*>(newline) - buffer + 1;
  }
  DropLeadingBytes(fd, from);
}

void TrimLogFile(const std::string& path, long long max_bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat info {};
  // Another process of the program may be writing; hold the same lock the
  // writers take so the kept tail starts with a whole line.
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX) == 0) {
    TrimOpenLogFile(fd, max_bytes, /*whole_lines=*/false);
    ::flock(fd, LOCK_UN);
  }
  ::close(fd);
}

bool InitLogging(const std::string& path, bool trim) {
  if (trim) TrimLogFile(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  const int trim_fd = fd >= 0 ? ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK) : -1;
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.fd >= 0) ::close(state.fd);
  if (state.trim_fd >= 0) ::close(state.trim_fd);
  state.fd = fd;
  state.trim_fd = trim_fd;
  struct stat info {};
  state.size_at_open = fd >= 0 && ::fstat(fd, &info) == 0 ? info.st_size : 0;
  state.path = fd >= 0 ? path : std::string();
  state.prefixes = fd >= 0;
  return fd >= 0;
}

void TrimLogFileAtStart() {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.fd < 0 || state.trim_fd < 0 || state.size_at_open <= kMaxLogFileBytes) return;
  ::flock(state.fd, LOCK_EX);
  DropLeadingBytes(state.trim_fd, state.size_at_open - kMaxLogFileBytes);
  ::flock(state.fd, LOCK_UN);
}

void ShutdownLogging() {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.fd >= 0) ::close(state.fd);
  if (state.trim_fd >= 0) ::close(state.trim_fd);
  state.fd = -1;
  state.trim_fd = -1;
  state.path.clear();
  state.prefixes = false;
}

const std::string& LogFilePath() { return State().path; }

void SetVerbosity(int level, std::string_view vmodule) {
  std::vector<VmodulePattern> patterns;
  size_t start = 0;
  while (start <= vmodule.size()) {
    size_t end = vmodule.find(',', start);
    if (end == std::string_view::npos) end = vmodule.size();
    const std::string_view item = vmodule.substr(start, end - start);
    const size_t eq = item.rfind('=');
    if (eq != std::string_view::npos && eq > 0) {
      const std::string number(item.substr(eq + 1));
      char* parse_end = nullptr;
      const long value = std::strtol(number.c_str(), &parse_end, 10);
      if (!number.empty() && *parse_end == '\0')
        patterns.push_back({std::string(item.substr(0, eq)), static_cast<int>(value)});
    }
    start = end + 1;
  }
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.verbosity = level;
  state.vmodule = std::move(patterns);
}

bool VlogIsOn(int level, const char* file) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.vmodule.empty()) {
    const std::string module = BaseNameWithoutExtension(file);
    for (const VmodulePattern& entry : state.vmodule) {
      const bool whole_path = entry.pattern.find('/') != std::string::npos;
      const std::string& subject = whole_path ? std::string(file) : module;
      if (fnmatch(entry.pattern.c_str(), subject.c_str(), 0) == 0) return level <= entry.level;
    }
  }
  return level <= state.verbosity;
}

void SetDchecksEnabled(bool enabled) { State().dchecks.store(enabled, std::memory_order_relaxed); }

bool DchecksEnabled() { return State().dchecks.load(std::memory_order_relaxed); }

std::string SeverityName(int severity) {
  switch (severity) {
    case kInfo:
      return "INFO";
    case kWarning:
      return "WARNING";
    case kError:
      return "ERROR";
    default:
      return severity < 0 ? "VERBOSE" + std::to_string(-severity) : "UNKNOWN";
  }
}

std::string FormatLinePrefix(int severity, const char* file, int line) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  std::string_view file_name(file ? file : "");
  const size_t slash = file_name.find_last_of('/');
  if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "[%d:%ld:%02d%02d/%02d%02d%02d.%03ld:%u:", ::getpid(),
                CurrentThreadId(), local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                now.tv_nsec / 1000000, TickCount32());
  std::string prefix(buffer);
  prefix += SeverityName(severity);
  prefix += ':';
  prefix += file_name;
  prefix += '(' + std::to_string(line) + ")] ";
  return prefix;
}

void WriteLine(const std::string& line) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.fd >= 0) {
    ::flock(state.fd, LOCK_EX);
    WriteAll(state.fd, line.data(), line.size());
    // Every writing process keeps the file under the cap; the lock held here
    // is the one every writer takes (trim_fd is the same file).
    struct stat info {};
    if (state.trim_fd >= 0 && ::fstat(state.fd, &info) == 0 && info.st_size > kLogCapBytes)
      TrimOpenLogFile(state.trim_fd, kMaxLogFileBytes, /*whole_lines=*/true);
    ::flock(state.fd, LOCK_UN);
  }
  WriteAll(STDERR_FILENO, line.data(), line.size());
}

LogMessage::LogMessage(const char* file, int line, int severity, bool append_errno)
    : file_(file), line_(line), severity_(severity), saved_errno_(errno), append_errno_(append_errno) {}

LogMessage::~LogMessage() {
  try {
    bool prefixes;
    {
      LogState& state = State();
      std::lock_guard<std::mutex> lock(state.mutex);
      prefixes = state.prefixes;
    }
    std::string text = prefixes ? FormatLinePrefix(severity_, file_, line_) : std::string();
    // Whatever the message carries from outside stays on this one line; line
    // feeds at its very end (three fixed package messages end in one, before
    // the error text) are kept.
    const std::string message = stream_.str();
    const size_t body_end = message.find_last_not_of('\n') + 1;
    text += EscapeLogText(std::string_view(message).substr(0, body_end));
    text.append(message, body_end, std::string::npos);
    if (append_errno_)
      text += ": " + std::string(std::strerror(saved_errno_)) + " (" + std::to_string(saved_errno_) + ")";
    text += '\n';
    WriteLine(text);
  } catch (...) {
    // A log line is never worth an exception escaping a destructor. Not
    // Guarded: that would log from inside the logger.
  }
}

}  // namespace vesk::logging
