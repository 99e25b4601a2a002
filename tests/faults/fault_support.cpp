#include "tests/faults/fault_support.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace faults {

namespace {

const std::string kPlainUser =
    "if [ \"$(id -u)\" = 0 ] && command -v setpriv >/dev/null; then "
    "exec setpriv --bounding-set=-dac_override,-dac_read_search,-fowner -- \"$@\"; fi; exec \"$@\"";

std::int64_t readHighWaterKiB(std::uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}

}  // namespace

std::string generatedBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131u + seed * 7919u) >> 2);
  return bytes;
}

std::vector<std::string> plainUserShell() { return {"/bin/sh", "-c", kPlainUser, "sh"}; }

std::vector<std::string> diskFullShell(int kib) {
  // ulimit -f counts blocks of 512 bytes in the POSIX shell.
  return {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f " + std::to_string(kib * 2) + "; " + kPlainUser, "sh"};
}

std::vector<std::string> outsideSnapshot(const fs::path& root, const fs::path& installDir) {
  std::vector<std::string> items = e2e::snapshotTree(root, installDir);
  const std::string runs = installDir.filename().string() + "-runs";
  items.erase(std::remove_if(items.begin(), items.end(),
                             [&runs](const std::string& item) {
                               return item.find("server-") != std::string::npos ||
                                      item.find(runs) != std::string::npos;
                             }),
              items.end());
  return items;
}

::testing::AssertionResult holdsInOrder(const std::vector<e2e::LogLine>& log,
                                        const std::vector<e2e::Expected>& expected) {
  std::size_t found = 0;
  for (const e2e::LogLine& line : log) {
    if (found < expected.size() && e2e::matchesExpected(line, expected[found])) ++found;
  }
  if (found == expected.size()) return ::testing::AssertionSuccess();
  std::ostringstream report;
  report << "missing, in this order: [" << expected[found].level << "] " << expected[found].text
         << "\nlog of the run:\n";
  for (const e2e::LogLine& line : log) report << "  [" << line.level << "] " << line.message << "\n";
  return ::testing::AssertionFailure() << report.str();
}

PeakMemory::PeakMemory(std::uint32_t pid)
    : thread_([this, pid] {
        while (!stop_) {
          peakKiB_ = std::max<std::int64_t>(peakKiB_, readHighWaterKiB(pid));
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }) {}

PeakMemory::~PeakMemory() { stopMiB(); }

double PeakMemory::stopMiB() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return static_cast<double>(peakKiB_) / 1024.0;
}

}  // namespace faults
