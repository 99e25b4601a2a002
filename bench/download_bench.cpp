// Downloads, each set against the curl command fetching the same URLs from the same nginx:
// one 1 GiB file (throughput, and the launcher's peak memory while it streams), and 2000
// small files (the launcher keeps its connection from file to file, and so does curl).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCurl = "/usr/bin/curl";
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kLargeBytes = 1024 * kMiB;
constexpr int kLargePairs = 3;
constexpr int kSmallCount = 2000;
constexpr std::uint64_t kSmallBytes = 20 * 1024;
constexpr int kSmallPairs = 5;
constexpr double kRunTimeoutSeconds = 120;
constexpr double kThroughputGoal = 0.9;
constexpr double kSmallFilesGoal = 1.5;
constexpr double kPeakMemoryGoalMiB = 30;

const char* const kThroughputName = "download of one 1 GiB file, MiB/s";
const char* const kMemoryName = "peak resident memory during the 1 GiB download, MiB";
const char* const kSmallName = "2000 files of 20 KiB, s";

std::string smallFileName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "small/f%05d.bin", index);
  return name;
}

bool hasSize(const fs::path& file, std::uint64_t bytes) {
  std::error_code error;
  return fs::file_size(file, error) == bytes && !error;
}

// One run of a download command; its output must have arrived whole.
struct Outcome {
  ChildRun run;
  std::string failure;
};

Outcome runDownload(const std::vector<std::string>& command, const fs::path& log, const fs::path& expectedFile,
                    std::uint64_t expectedBytes) {
  Outcome outcome;
  fs::remove(log);
  outcome.run = runChild(command, environmentWith({}, {}), log, kRunTimeoutSeconds);
  if (outcome.run.exitCode != 0) {
    outcome.failure = command[0] + " " + describeFailure(outcome.run, log);
  } else if (!hasSize(expectedFile, expectedBytes)) {
    outcome.failure = command[0] + " left " + expectedFile.string() + " incomplete";
  }
  return outcome;
}

}  // namespace

// Bytes that no layer on the way could shrink.
bool writeRandomFile(const fs::path& file, std::uint64_t bytes, std::uint32_t seed) {
  fs::create_directories(file.parent_path());
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> block(std::min<std::uint64_t>(bytes, kMiB) / 8 + 1);
  for (std::uint64_t& word : block) word = random();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (std::uint64_t written = 0; written < bytes && out;) {
    const std::uint64_t count = std::min<std::uint64_t>(bytes - written, kMiB);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
    written += count;
    block[written / 8 % block.size()] ^= written;  // no two mebibytes alike
  }
  return static_cast<bool>(out);
}

Figures runLargeDownload(const Workspace& workspace) {
  const fs::path source = workspace.servedRoot / "bench/files/large.bin";
  if (!writeRandomFile(source, kLargeBytes, 1)) {
    return {failedFigure(kThroughputName, Goal::RatioAtLeast, kThroughputGoal, "cannot write " + source.string()),
            failedFigure(kMemoryName, Goal::ValueAtMost, kPeakMemoryGoalMiB, "no download")};
  }
  const std::string url = workspace.baseUrl + "/gis/update/file?platform=bench&path=large.bin";
  const fs::path target = workspace.work / "downloaded" / "large.bin";
  fs::create_directories(target.parent_path());
  const fs::path log = workspace.work / "download.log";
  const std::vector<std::string> launcher = {KESTRUN_BENCH_DOWNLOAD, "file", url, target.string()};
  const std::vector<std::string> curl = {kCurl, "-sS", "-f", "-o", target.string(), url};

  // One pair first, not counted; then the two in turn, so that a drift of the machine's speed
  // falls on both alike. Every copy is removed at once: three of these do not stay around.
  std::vector<double> launcherSeconds, curlSeconds;
  double peakMiB = 0;
  std::string failure;
  for (int pair = 0; pair <= kLargePairs && failure.empty(); ++pair) {
    for (const auto* command : {&launcher, &curl}) {
      const Outcome outcome = runDownload(*command, log, target, kLargeBytes);
      fs::remove(target);
      if (!outcome.failure.empty()) {
        failure = outcome.failure;
        break;
      }
      if (command == &launcher && outcome.run.peakResidentMiB > peakMiB) peakMiB = outcome.run.peakResidentMiB;
      if (pair == 0) continue;
      (command == &launcher ? launcherSeconds : curlSeconds).push_back(outcome.run.seconds);
    }
  }
  fs::remove(source);
  if (!failure.empty()) {
    return {failedFigure(kThroughputName, Goal::RatioAtLeast, kThroughputGoal, failure),
            failedFigure(kMemoryName, Goal::ValueAtMost, kPeakMemoryGoalMiB, failure)};
  }

  const double mebibytes = static_cast<double>(kLargeBytes) / kMiB;
  Figure throughput;
  throughput.name = kThroughputName;
  throughput.launcher = mebibytes / median(launcherSeconds);
  throughput.baseline = mebibytes / median(curlSeconds);
  throughput.goal = Goal::RatioAtLeast;
  throughput.limit = kThroughputGoal;
  Figure memory;
  memory.name = kMemoryName;
  memory.launcher = peakMiB;
  memory.goal = Goal::ValueAtMost;
  memory.limit = kPeakMemoryGoalMiB;
  return {throughput, memory};
}

Figures runSmallFiles(const Workspace& workspace) {
  const fs::path served = workspace.servedRoot / "bench/files";
  for (int i = 0; i < kSmallCount; ++i) {
    if (!writeRandomFile(served / smallFileName(i), kSmallBytes, static_cast<std::uint32_t>(i + 2))) {
      return {failedFigure(kSmallName, Goal::RatioAtMost, kSmallFilesGoal, "cannot write " + smallFileName(i))};
    }
  }

  // The launcher fetches into <install>/update_staging; curl is handed the same list of URLs.
  const fs::path install = workspace.work / "small-install";
  const fs::path curlTarget = workspace.work / "small-curl";
  const fs::path curlConfig = workspace.work / "small-urls.curlrc";
  {
    std::ofstream config(curlConfig, std::ios::trunc);
    for (int i = 0; i < kSmallCount; ++i) {
      config << "url = \"" << workspace.baseUrl << "/gis/update/file?platform=bench&path=" << smallFileName(i)
             << "\"\noutput = \"" << (curlTarget / smallFileName(i)).string() << "\"\n";
    }
  }
  const fs::path log = workspace.work / "small.log";
  const std::vector<std::string> launcher = {KESTRUN_BENCH_DOWNLOAD, "pending", workspace.baseUrl, "bench",
                                             install.string(), std::to_string(kSmallCount),
                                             std::to_string(kSmallBytes)};
  const std::vector<std::string> curl = {kCurl, "-sS", "-f", "--create-dirs", "-K", curlConfig.string()};
  const fs::path lastName = smallFileName(kSmallCount - 1);

  std::vector<double> launcherSeconds, curlSeconds;
  for (int pair = 0; pair <= kSmallPairs; ++pair) {
    // Both start from nothing: the staging directory's removal is no part of the figure.
    fs::remove_all(install / "update_staging");
    fs::remove_all(curlTarget);
    const Outcome ours = runDownload(launcher, log, install / "update_staging" / lastName, kSmallBytes);
    if (!ours.failure.empty()) return {failedFigure(kSmallName, Goal::RatioAtMost, kSmallFilesGoal, ours.failure)};
    const Outcome theirs = runDownload(curl, log, curlTarget / lastName, kSmallBytes);
    if (!theirs.failure.empty()) {
      return {failedFigure(kSmallName, Goal::RatioAtMost, kSmallFilesGoal, theirs.failure)};
    }
    if (pair == 0) continue;
    launcherSeconds.push_back(ours.run.seconds);
    curlSeconds.push_back(theirs.run.seconds);
  }

  return {measuredFigure(kSmallName, median(launcherSeconds), median(curlSeconds), Goal::RatioAtMost, kSmallFilesGoal)};
}

}  // namespace bench
