// Runs code that must not let an exception escape: engine and toolkit
// callbacks, exported functions, module entry points. What is thrown is
// logged with the place, and the fallback (or nothing) is returned.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

#include "vesk/core/logging.h"

namespace vesk {

namespace internal {

inline void LogEscapedException(const char* where) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      VESK_LOG(ERROR) << where << " threw: " << error.what();
    } catch (...) {
      VESK_LOG(ERROR) << where << " threw";
    }
  } catch (...) {
    // Logging itself failed; there is nothing left to tell.
  }
}

}  // namespace internal

// For code without a result.
template <typename Fn>
void Guarded(const char* where, Fn&& fn) noexcept {
  try {
    std::forward<Fn>(fn)();
  } catch (...) {
    internal::LogEscapedException(where);
  }
}

// For code with a result: |fallback| when it throws.
template <typename Fn, typename Fallback, typename Result = std::invoke_result_t<Fn>>
Result Guarded(const char* where, Fn&& fn, Fallback fallback) noexcept {
  try {
    return std::forward<Fn>(fn)();
  } catch (...) {
    internal::LogEscapedException(where);
  }
  return static_cast<Result>(fallback);
}

}  // namespace vesk
