// From the launcher's start to the main program's start, set against a program linked against
// the same shared libraries that only starts the main program. The main program is a stand-in
// that writes the moment it began; both are started from a copy of the installation.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 20;
constexpr double kGoal = 1.5;
constexpr double kRunTimeoutSeconds = 60;
constexpr auto kStampTimeout = std::chrono::seconds(10);
const char* const kName = "launcher start to main-program start, ms (median of 20)";

// The shared libraries a program names (readelf's NEEDED entries), sorted; empty when unreadable.
std::vector<std::string> neededLibraries(const fs::path& program) {
  std::vector<std::string> libraries;
  const std::string command = "readelf -d '" + program.string() + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> output(popen(command.c_str(), "r"), &pclose);
  if (!output) return libraries;
  char line[512];
  while (std::fgets(line, sizeof line, output.get())) {
    const std::string text = line;
    const std::size_t open = text.find('[');
    const std::size_t close = text.find(']', open);
    if (text.find("(NEEDED)") != std::string::npos && close != std::string::npos) {
      libraries.push_back(text.substr(open + 1, close - open - 1));
    }
  }
  std::sort(libraries.begin(), libraries.end());
  return libraries;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string result;
  for (const std::string& text : texts) result += (result.empty() ? "" : " ") + text;
  return result;
}

std::int64_t nowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The stand-in's start moment, once it is there; 0 when it never comes.
std::int64_t awaitStamp(const fs::path& stamp) {
  const auto deadline = std::chrono::steady_clock::now() + kStampTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(stamp);
    std::int64_t nanoseconds = 0;
    if (in >> nanoseconds) return nanoseconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

}  // namespace

Figures runStart(const Workspace& workspace, bool launcherServes, const std::string& whyNot) {
  if (!launcherServes) return {failedFigure(kName, Goal::RatioAtMost, kGoal, whyNot)};
  const std::vector<std::string> launcherLibraries = neededLibraries(KESTRUN_BENCH_LAUNCHER);
  const std::vector<std::string> baselineLibraries = neededLibraries(KESTRUN_BENCH_START_BASELINE);
  if (launcherLibraries.empty() || launcherLibraries != baselineLibraries) {
    return {failedFigure(kName, Goal::RatioAtMost, kGoal,
                         "the baseline must link the launcher's libraries (" + joined(launcherLibraries) +
                             "), it links " + joined(baselineLibraries) + "; see bench/CMakeLists.txt")};
  }

  const fs::path install = workspace.work / "start-install";
  const fs::path home = workspace.work / "start-home";
  fs::create_directories(install);
  fs::create_directories(home);
  std::error_code error;
  const fs::copy_options replace = fs::copy_options::overwrite_existing;
  fs::copy_file(KESTRUN_BENCH_LAUNCHER, install / "Kestrun", replace, error);
  if (!error) fs::copy_file(KESTRUN_BENCH_STAMP, install / "Vardel.exe", replace, error);
  if (!error) fs::copy_file(KESTRUN_BENCH_START_BASELINE, install / "start_baseline", replace, error);
  if (error) return {failedFigure(kName, Goal::RatioAtMost, kGoal, "cannot copy the programs: " + error.message())};
  // The launcher's check after the start finds an empty release: nothing to do.
  fs::create_directories(workspace.servedRoot / "windows");
  std::ofstream(workspace.servedRoot / "windows" / "manifest.json") << "[]";

  // The URL-scheme registration writes into a home of its own; no display, so no window.
  const std::vector<std::string> environment = environmentWith(
      {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "share").string(),
       "XDG_CONFIG_HOME=" + (home / "config").string()},
      {"DISPLAY", "WAYLAND_DISPLAY"});
  const fs::path stamp = install / "started.ns";
  const fs::path log = workspace.work / "start.log";

  std::vector<double> launcherMs, baselineMs;
  for (int run = 0; run <= kRuns; ++run) {
    for (const char* program : {"Kestrun", "start_baseline"}) {
      fs::remove(stamp);
      fs::remove(log);
      const std::int64_t begin = nowNanoseconds();
      const ChildRun child = runChild({(install / program).string()}, environment, log, kRunTimeoutSeconds);
      if (child.exitCode != 0) {
        return {failedFigure(kName, Goal::RatioAtMost, kGoal, std::string(program) + " " + describeFailure(child, log))};
      }
      const std::int64_t started = awaitStamp(stamp);
      if (started == 0) {
        return {failedFigure(kName, Goal::RatioAtMost, kGoal, std::string(program) + " never started Vardel.exe")};
      }
      if (run == 0) continue;  // the first of each warms the caches
      (program[0] == 'K' ? launcherMs : baselineMs).push_back(static_cast<double>(started - begin) / 1e6);
    }
  }

  return {measuredFigure(kName, median(launcherMs), median(baselineMs), Goal::RatioAtMost, kGoal)};
}

}  // namespace bench
