#pragma once

#include "platform/process.h"

namespace testing_support {

// Ends a test's child if it is still running when the test is over, so that no test leaves
// a process behind, whatever it asserted.
class ChildGuard {
 public:
  explicit ChildGuard(platform::ProcessHandle& handle) : handle_(handle) {}
  ~ChildGuard() {
    if (!handle_) return;
    std::uint32_t errorCode = 0;
    if (platform::waitForExit(*handle_, 0, errorCode) == platform::WaitResult::TimedOut) {
      platform::terminateProcess(*handle_, 1, errorCode);
      platform::waitForExit(*handle_, 5000, errorCode);
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;

 private:
  platform::ProcessHandle& handle_;
};

}  // namespace testing_support
