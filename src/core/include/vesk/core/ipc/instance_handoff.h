// A second start's message to the running instance: the process that holds
// the single-instance lock, not whichever receiver answers first.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "vesk/core/single_instance_lock.h"

namespace vesk::ipc {

inline constexpr std::chrono::milliseconds kHandOffRetryTime{3000};

// Sends the message to the receiver of the pid the lock holder wrote into
// the lock file, after checking with SO_PEERCRED that this very process of
// our user serves it. A holder that has not written its pid yet, a receiver
// not there yet, full or refusing, is retried for |retry_time|. True when
// the instance answered; otherwise false and "Second instance: the running
// instance did not take message <id>" is logged.
bool HandOffToLockHolder(const SingleInstanceLock& lock, int32_t id, const std::string& data,
                         std::chrono::milliseconds retry_time = kHandOffRetryTime);

}  // namespace vesk::ipc
