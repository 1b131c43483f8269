#include "vesk/core/ipc/instance_handoff.h"

#include <thread>

#include "vesk/core/ipc/ipc.h"
#include "vesk/core/logging.h"

namespace vesk::ipc {
namespace {

constexpr std::chrono::milliseconds kRetryPause{100};

}  // namespace

bool HandOffToLockHolder(const SingleInstanceLock& lock, int32_t id, const std::string& data,
                         std::chrono::milliseconds retry_time) {
  const auto deadline = std::chrono::steady_clock::now() + retry_time;
  std::optional<uint32_t> holder;
  while (true) {
    holder = lock.HolderPid();
    const std::optional<IPC> receiver = holder ? IPC::ConnectToProcess(*holder) : std::nullopt;
    if (receiver) {
      const IPC::SendOutcome outcome = receiver->SendForOutcome(id, data);
      if (outcome == IPC::SendOutcome::kAnswered) {
        VESK_LOG(INFO) << "Second instance: message " << id << " handed to process " << *holder;
        return true;
      }
      // Waited the whole answer time already, or cannot be sent at all.
      if (outcome == IPC::SendOutcome::kTimedOut || outcome == IPC::SendOutcome::kNotSent) break;
    }
    if (std::chrono::steady_clock::now() + kRetryPause > deadline) break;
    std::this_thread::sleep_for(kRetryPause);
  }
  VESK_LOG(ERROR) << "Second instance: the running instance "
                  << (holder ? "(process " + std::to_string(*holder) + ") " : std::string("(pid unknown) "))
                  << "did not take message " << id;
  // No message goes anywhere else; the pass only removes the sockets of
  // ended processes and logs that no receiver took it.
  IPC::EnumerateRemotes([](const IPC&) { return false; });
  return false;
}

}  // namespace vesk::ipc
