// Runs registered callbacks in reverse order of registration when destroyed
// or when RunCallbacksNow is called. Process-wide singletons register their
// release here, so their order at exit is written down in one place.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace vesk {

class AtExitManager {
 public:
  AtExitManager() = default;
  ~AtExitManager() { RunCallbacksNow(); }
  AtExitManager(const AtExitManager&) = delete;
  AtExitManager& operator=(const AtExitManager&) = delete;

  void Register(std::function<void()> callback);
  void RunCallbacksNow();

 private:
  std::mutex mutex_;
  std::vector<std::function<void()>> callbacks_;
};

}  // namespace vesk
