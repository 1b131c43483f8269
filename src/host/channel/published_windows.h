// What the main thread publishes of each page's host window for the page
// channel's thread, which answers reads of it without a turn of the main
// loop: the window's opacity, its topmost flag and the rectangle the X
// server last gave (while the main thread keeps it). One writer, the main
// thread, which publishes a change before it answers the request that made
// it; the channel's thread only reads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "vesk/core/browser/window_geometry.h"
#include "vesk/core/channel/operations.h"

namespace vesk {

class PublishedWindows final : public channel::PublishedStateDelegate {
 public:
  struct State {
    double opacity = 1;
    bool topmost = false;
    // The kept rectangle of a mapped window; empty when it must be asked
    // for again.
    std::optional<WindowRect> rect;
  };

  static PublishedWindows& Get();

  // Main thread.
  void Publish(uint64_t page_id, const State& state);
  void Forget(uint64_t page_id);

  // Channel thread.
  std::optional<channel::op::GetWindowOpacity::Result> Published(
      uint64_t page_id, const channel::op::GetWindowOpacity::Request& request) override;
  // Only while the display is settled (display_settled.h): otherwise the
  // main thread checks the rectangle against the events it has not handled.
  std::optional<channel::op::GetWindowPosition::Result> Published(
      uint64_t page_id, const channel::op::GetWindowPosition::Request& request) override;

 private:
  PublishedWindows() = default;
  std::optional<State> Read(uint64_t page_id);

  std::mutex mutex_;
  std::unordered_map<uint64_t, State> states_;
};

}  // namespace vesk
