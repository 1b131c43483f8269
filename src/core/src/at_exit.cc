#include "vesk/core/at_exit.h"

namespace vesk {

void AtExitManager::Register(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  callbacks_.push_back(std::move(callback));
}

void AtExitManager::RunCallbacksNow() {
  std::vector<std::function<void()>> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks.swap(callbacks_);
  }
  for (auto it = callbacks.rbegin(); it != callbacks.rend(); ++it) (*it)();
}

}  // namespace vesk
