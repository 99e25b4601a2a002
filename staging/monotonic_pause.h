#pragma once

#include <chrono>
#include <thread>

// Sleeps for `length` measured on the monotonic clock, so that a changed wall clock can
// neither stretch nor cut short a retry pause.
inline void pauseOnMonotonicClock(std::chrono::milliseconds length) {
  const auto deadline = std::chrono::steady_clock::now() + length;
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}
