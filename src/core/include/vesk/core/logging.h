// Process logging: one log file shared by every process of the program plus
// standard error. Each line is written whole, under an advisory lock, so lines
// of several processes and threads never interleave.
#pragma once

#include <sstream>
#include <string>
#include <string_view>

namespace vesk::logging {

enum Severity : int { kVerbose = -1, kInfo = 0, kWarning = 1, kError = 2 };

inline constexpr long long kMaxLogFileBytes = 524288;
// While the program runs, a write that leaves the file larger than this
// trims it to its last kMaxLogFileBytes (starting at a whole line), so the
// log never holds more than this plus one line, whatever a page writes.
inline constexpr long long kLogCapBytes = 2 * kMaxLogFileBytes;

// "<dir>/<executable name without extension>.log"; "debug.log.log" when the
// executable path has no file-name part.
std::string LogFilePathFor(std::string_view log_dir, std::string_view executable_path);

// Keeps only the last |max_bytes| bytes of |path|. Silent on every failure.
// Only the process holding the single-instance lock trims at start.
void TrimLogFile(const std::string& path, long long max_bytes = kMaxLogFileBytes);

// Trims (unless |trim| is false: a helper process, or a start that does not
// know yet whether it is the running instance) and opens |path| for appending. Returns
// false (and keeps logging to standard error only, without line prefixes)
// when the file cannot be opened.
bool InitLogging(const std::string& path, bool trim = true);
// The trim at start, for a process that opened the log without it and then
// took the single-instance lock: keeps the last kMaxLogFileBytes of what the
// file held when it was opened, and every line written since.
void TrimLogFileAtStart();
// Closes the file; later lines go to standard error only.
void ShutdownLogging();
const std::string& LogFilePath();

// Verbose levels: --v=N and --vmodule=pattern=N[,pattern=N...]. A pattern is
// matched against the source file's base name without extension, or against
// the whole path when it contains a '/'.
void SetVerbosity(int level, std::string_view vmodule);
bool VlogIsOn(int level, const char* file);

// Debug checks only ever log "Check failed: <condition>. ". On in Debug
// builds (VESK_DCHECK_ALWAYS_ON) and where tests turn them on; off otherwise,
// also in a build without a build type.
void SetDchecksEnabled(bool enabled);
bool DchecksEnabled();

// Builds the "[pid:tid:MMDD/HHMMSS.mmm:tick:LEVEL:file(line)] " prefix.
std::string FormatLinePrefix(int severity, const char* file, int line);
std::string SeverityName(int severity);

// Writes one finished line (prefix and newline included) to every sink.
void WriteLine(const std::string& line);

class LogMessage {
 public:
  LogMessage(const char* file, int line, int severity, bool append_errno = false);
  ~LogMessage();
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  std::ostream& stream() { return stream_; }

 private:
  const char* file_;
  int line_;
  int severity_;
  int saved_errno_;
  bool append_errno_;
  std::ostringstream stream_;
};

// Swallows the stream expression when a message is not logged.
struct LogVoidify {
  void operator&(std::ostream&) {}
};

}  // namespace vesk::logging

#define VESK_LOG_SEV_INFO ::vesk::logging::kInfo
#define VESK_LOG_SEV_WARNING ::vesk::logging::kWarning
#define VESK_LOG_SEV_ERROR ::vesk::logging::kError

#define VESK_LOG(sev) ::vesk::logging::LogMessage(__FILE__, __LINE__, VESK_LOG_SEV_##sev).stream()
// Appends ": <strerror> (<errno>)" of the errno current at the statement.
#define VESK_PLOG(sev) ::vesk::logging::LogMessage(__FILE__, __LINE__, VESK_LOG_SEV_##sev, true).stream()
#define VESK_VLOG(level)                        \
  !::vesk::logging::VlogIsOn((level), __FILE__) \
      ? (void)0                                 \
      : ::vesk::logging::LogVoidify() & ::vesk::logging::LogMessage(__FILE__, __LINE__, -(level)).stream()
#define VESK_DCHECK(condition)                                                                \
  (!::vesk::logging::DchecksEnabled() || (condition))                                         \
      ? (void)0                                                                               \
      : ::vesk::logging::LogVoidify() &                                                       \
            ::vesk::logging::LogMessage(__FILE__, __LINE__, ::vesk::logging::kError).stream() \
                << "Check failed: " #condition ". "
// The same where the report names the condition in words of its own (a
// fixed text): "Check failed: <text>. ".
#define VESK_DCHECK_TEXT(condition, text)                                                     \
  (!::vesk::logging::DchecksEnabled() || (condition))                                         \
      ? (void)0                                                                               \
      : ::vesk::logging::LogVoidify() &                                                       \
            ::vesk::logging::LogMessage(__FILE__, __LINE__, ::vesk::logging::kError).stream() \
                << "Check failed: " text ". "
