#include "channel/published_windows.h"

#include "channel/channel_thread.h"
#include "channel/display_settled.h"
#include "vesk/core/thread_check.h"

namespace vesk {

namespace op = channel::op;

PublishedWindows& PublishedWindows::Get() {
  static auto* windows = new PublishedWindows;
  return *windows;
}

void PublishedWindows::Publish(uint64_t page_id, const State& state) {
  VESK_REQUIRE_MAIN_THREAD();
  std::lock_guard lock(mutex_);
  states_[page_id] = state;
}

void PublishedWindows::Forget(uint64_t page_id) {
  VESK_REQUIRE_MAIN_THREAD();
  std::lock_guard lock(mutex_);
  states_.erase(page_id);
}

std::optional<PublishedWindows::State> PublishedWindows::Read(uint64_t page_id) {
  std::lock_guard lock(mutex_);
  const auto it = states_.find(page_id);
  if (it == states_.end()) return std::nullopt;
  return it->second;
}

std::optional<op::GetWindowOpacity::Result> PublishedWindows::Published(
    uint64_t page_id, const op::GetWindowOpacity::Request&) {
  VESK_REQUIRE_CHANNEL_THREAD();
  const std::optional<State> state = Read(page_id);
  if (!state) return std::nullopt;
  return op::GetWindowOpacity::Result{state->opacity};
}

std::optional<op::GetWindowPosition::Result> PublishedWindows::Published(
    uint64_t page_id, const op::GetWindowPosition::Request&) {
  VESK_REQUIRE_CHANNEL_THREAD();
  std::optional<State> state;
  if (!display_settled::ReadWhileSettled([&] { state = Read(page_id); })) return std::nullopt;
  if (!state || !state->rect) return std::nullopt;
  return op::GetWindowPosition::Result{*state->rect, state->topmost};
}

}  // namespace vesk
