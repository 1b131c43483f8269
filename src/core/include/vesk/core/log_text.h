// Text that reaches the log from outside (page console output, instance
// messages, URLs, file names) must not be able to start a line of its own,
// hide part of itself or reach a terminal as a control sequence.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vesk::logging {

// Valid UTF-8 stays as it is, except: C0 controls other than tab (\n, \r and
// \xHH), DEL, C1 controls and the Unicode line and paragraph separators
// (\uHHHH) are escaped, and every byte that is not part of a well-formed
// UTF-8 sequence becomes \xHH. A backslash is kept as it is. The result
// holds no line break, so it cannot forge a line.
std::string EscapeLogText(std::string_view text);

// Bounds a warning that outside events can repeat at will (refused
// connections, say): at most |burst| lines per |interval|; the lines beyond
// that are counted and the count is reported with the next line let through.
// Thread-safe.
class LogRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  LogRateLimiter(int burst, std::chrono::milliseconds interval) : burst_(burst), interval_(interval) {}

  // True when a line may be written now; |suppressed| then receives how many
  // were held back since the last line written.
  bool Allow(uint64_t* suppressed) { return Allow(Clock::now(), suppressed); }
  bool Allow(Clock::time_point now, uint64_t* suppressed);

 private:
  const int burst_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  Clock::time_point window_start_{};
  int used_ = 0;
  uint64_t suppressed_ = 0;
};

}  // namespace vesk::logging

// Logs at most |burst| lines per second from this statement; the count of
// lines held back is appended to the next one.
#define VESK_LOG_LIMITED(sev, burst)                                                        \
  for (                                                                                     \
      uint64_t vesk_suppressed = 0, vesk_once =                                             \
                                        [&] {                                               \
                                          static ::vesk::logging::LogRateLimiter limiter(   \
                                              (burst), std::chrono::milliseconds(1000));    \
                                          return limiter.Allow(&vesk_suppressed) ? 1u : 0u; \
                                        }();                                                \
      vesk_once; vesk_once = 0)                                                             \
  VESK_LOG(sev) << ::vesk::logging::SuppressedNote(vesk_suppressed)

namespace vesk::logging {
// "" for 0, otherwise "(<n> similar lines suppressed) ".
std::string SuppressedNote(uint64_t suppressed);
}  // namespace vesk::logging
