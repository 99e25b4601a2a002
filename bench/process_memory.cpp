#include "bench/process_memory.h"

#include <chrono>
#include <fstream>
#include <string>

namespace bench {
namespace {

// One "Name:   1234 kB" line of /proc/self/status, in bytes; 0 when absent.
std::int64_t statusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == name) {
      std::int64_t kib = 0;
      status >> kib;
      return kib * 1024;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

// Writing "5" to clear_refs sets VmHWM back to the current VmRSS (Linux 4.0 and later).
bool resetKernelPeak() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  if (!clearRefs) return false;
  clearRefs << "5";
  clearRefs.flush();
  return static_cast<bool>(clearRefs);
}

}  // namespace

std::int64_t residentBytes() { return statusField("VmRSS:"); }

PeakResidentMeter::PeakResidentMeter() {
  kernelPeakReset_ = resetKernelPeak();
  baseline_ = residentBytes();
  sampledPeak_ = baseline_;
  sampler_ = std::thread([this] {
    while (!stop_.load()) {
      const std::int64_t now = residentBytes();
      if (now > sampledPeak_.load()) sampledPeak_.store(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
}

PeakResidentMeter::~PeakResidentMeter() { stopAndGetGrowth(); }

std::int64_t PeakResidentMeter::stopAndGetGrowth() {
  if (sampler_.joinable()) {
    stop_.store(true);
    sampler_.join();
  }
  std::int64_t peak = sampledPeak_.load();
  if (kernelPeakReset_) {
    const std::int64_t kernelPeak = statusField("VmHWM:");
    if (kernelPeak > peak) peak = kernelPeak;
  }
  return peak - baseline_;
}

}  // namespace bench
