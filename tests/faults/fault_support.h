#pragma once

// What the fault matrix and the crash-recovery test share beyond the end-to-end harness: the
// fixture's parts their runners use, generated file contents, the shells that start the
// launcher under a local fault, a sampler of the launcher's peak memory, and the check that
// nothing outside the installation changed.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/launcher/launcher_harness.h"

namespace faults {

namespace fs = std::filesystem;

// The parts of an end-to-end test fixture that the shared runners use, and how the launcher
// is started there (directly, or through wine).
struct RunContext {
  fs::path root;
  e2e::Release& release;
  fs::path faultsFile;
  std::function<std::unique_ptr<e2e::ReleaseServer>()> startServer;
  e2e::RunOptions options;
};

// `size` bytes that differ for every `seed`.
std::string generatedBytes(std::size_t size, unsigned seed);

// A shell that runs the launcher (RunOptions::interpreter) through exec, so the process keeps
// its id. Run as root, it drops the capabilities that let root write anywhere, so that
// permission bits bind the launcher as they bind a user.
std::vector<std::string> plainUserShell();
// The same, with the file size limit at `kib` KiB and SIGXFSZ ignored: a write past the
// limit fails with EFBIG, as on a full disk, instead of killing the process.
std::vector<std::string> diskFullShell(int kib);

// Everything below `root` except the installation and what the runs write beside it (the
// release server's output, the launcher's captured output and home).
std::vector<std::string> outsideSnapshot(const fs::path& root, const fs::path& installDir);

// Whether `log` holds the `expected` lines in this order (other lines may come between).
::testing::AssertionResult holdsInOrder(const std::vector<e2e::LogLine>& log,
                                        const std::vector<e2e::Expected>& expected);

// The highest resident memory (VmHWM) of a process while it runs, read from /proc every
// 10 ms on a thread of its own.
class PeakMemory {
 public:
  explicit PeakMemory(std::uint32_t pid);
  ~PeakMemory();
  PeakMemory(const PeakMemory&) = delete;
  PeakMemory& operator=(const PeakMemory&) = delete;
  // Stops sampling; the peak in MiB (0 when nothing could be read).
  double stopMiB();

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> peakKiB_{0};
  std::thread thread_;
};

}  // namespace faults
