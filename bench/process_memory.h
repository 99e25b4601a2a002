#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// The resident memory of this process, as the kernel reports it in /proc/self/status.
namespace bench {

// VmRSS in bytes; 0 when it cannot be read.
std::int64_t residentBytes();

// The highest resident size of one stretch of work. The kernel's own high-water mark is
// reset at the start when the system allows it; a sampling thread backs it up either way,
// so a short peak between samples is still caught by the kernel's figure.
class PeakResidentMeter {
 public:
  PeakResidentMeter();
  ~PeakResidentMeter();
  PeakResidentMeter(const PeakResidentMeter&) = delete;
  PeakResidentMeter& operator=(const PeakResidentMeter&) = delete;

  // Stops sampling; the growth over the resident size at construction, in bytes.
  std::int64_t stopAndGetGrowth();
  bool kernelPeakUsed() const { return kernelPeakReset_; }

 private:
  std::int64_t baseline_ = 0;
  bool kernelPeakReset_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> sampledPeak_{0};
  std::thread sampler_;
};

}  // namespace bench
