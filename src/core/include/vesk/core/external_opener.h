// Hands targets (URLs, paths) to the desktop's default handler on one worker
// thread of its own. Any frame can ask for this as often as it likes, so the
// rate is bounded: at most |per_second| a second and |max_pending| waiting;
// what lies beyond is dropped with a warning (at most a few lines a second).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "vesk/core/log_text.h"
#include "vesk/core/task_thread.h"

namespace vesk {

class ExternalOpener {
 public:
  using OpenFunction = std::function<void(const std::string& target)>;
  static constexpr int kDefaultPerSecond = 5;
  static constexpr size_t kDefaultMaxPending = 16;

  explicit ExternalOpener(OpenFunction open, int per_second = kDefaultPerSecond,
                          size_t max_pending = kDefaultMaxPending);
  ~ExternalOpener();
  ExternalOpener(const ExternalOpener&) = delete;
  ExternalOpener& operator=(const ExternalOpener&) = delete;

  // Never waits. False when the target was dropped.
  bool Submit(const std::string& target);
  // Returns once every accepted target was handed over (tests).
  void Drain();

 private:
  const OpenFunction open_;
  const size_t max_pending_;
  logging::LogRateLimiter admission_;
  std::atomic<size_t> pending_{0};
  TaskThread worker_;
};

}  // namespace vesk
