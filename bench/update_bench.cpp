// An update and a first installation of a release published with kestrun-publish, served by
// nginx with its compressed copies and patches, against the whole files: bytes moved (nginx's
// own count), seconds against curl fetching the whole files from the same nginx, and the
// launcher's peak memory. The release: two builds of Kestrun.exe as the program (from
// $KESTRUN_BENCH_LAUNCHERS/old and /new, see README.md), a 24 MiB data file changed in a few
// places and a thousand small files, ten of them changed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "bench/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "trust/sha256_hex.h"
#include "update/installed_digests.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCurl = "/usr/bin/curl";
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::uint64_t kDataBytes = 24 << 20;
constexpr int kSmallFiles = 1000;
constexpr int kChangedSmallFiles = 10;
// Each run takes tens of milliseconds, so one stray pause moves a median of three by a tenth.
constexpr int kPairs = 9;
constexpr double kRunTimeoutSeconds = 300;
constexpr std::int64_t kOldTime = 1790000000;
constexpr std::int64_t kNewTime = 1790086400;

const char* const kUpdateBytes = "update: bytes moved, MiB (baseline: the changed files whole)";
const char* const kInstallBytes = "first installation: bytes moved, MiB (baseline: the tree)";
const char* const kUpdateSeconds = "update: seconds (baseline: curl, changed files whole)";
const char* const kInstallSeconds = "first installation: seconds (baseline: curl, every file)";
const char* const kUpdateMemory = "update: peak resident memory, MiB (goal: 64 + mapped file)";

// Records of a made-up measurement table: text that compresses as real data does.
std::string dataFile() {
  std::string text;
  text.reserve(kDataBytes + 128);
  std::uint64_t state = 88172645463325252ULL;
  for (int row = 0; text.size() < kDataBytes; ++row) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    char line[128];
    std::snprintf(line, sizeof line, "%08d,sensor-%04u,%s,%u.%03u,%s\n", row, static_cast<unsigned>(state % 5000),
                  (state >> 20) % 3 == 0 ? "temperature" : (state >> 20) % 3 == 1 ? "humidity" : "pressure",
                  static_cast<unsigned>((state >> 24) % 1000), static_cast<unsigned>((state >> 40) % 1000),
                  (state >> 50) % 17 == 0 ? "check" : "ok");
    text += line;
  }
  text.resize(kDataBytes);
  return text;
}

std::string smallFile(int index, bool changed) {
  std::string text = "[item " + std::to_string(index) + "]\n";
  std::uint64_t state = 1469598103934665603ULL ^ static_cast<std::uint64_t>(index);
  const int lines = 20 + index % 150;
  for (int i = 0; i < lines; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    text += "key" + std::to_string(i) + " = " + std::to_string(state >> 44) + "\n";
  }
  if (changed) text += "edited = yes\n";
  return text;
}

std::string smallName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "small/f%04d.ini", index);
  return name;
}

using testing_support::readFile;

// The two releases' source trees. Which files differ is known from how they were made.
struct Releases {
  std::vector<std::string> paths;    // every file
  std::vector<std::string> changed;  // the files that differ
  std::uint64_t treeBytes = 0;       // the new release, uncompressed
  std::uint64_t changedBytes = 0;    // the changed files of the new release, whole
  std::uint64_t mappedBytes = 0;     // the largest old file a patch maps
};

bool writeReleases(const fs::path& launchers, const fs::path& oldTree, const fs::path& newTree, Releases& releases,
                   std::string& error) {
  const std::string oldProgram = readFile(launchers / "old/Kestrun.exe");
  const std::string newProgram = readFile(launchers / "new/Kestrun.exe");
  if (oldProgram.empty() || newProgram.empty()) {
    error = "no Kestrun.exe in " + (launchers / "old").string() + " or " + (launchers / "new").string() +
            " (bench/launcher-builds.sh makes them)";
    return false;
  }
  std::string data = dataFile();
  const std::string oldData = data;
  for (std::size_t at : {std::size_t{1} << 20, std::size_t{7} << 20, std::size_t{15} << 20, std::size_t{23} << 20}) {
    data.replace(at, 24, "edited record, new value");
  }
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> files = {
      {"Vardel.exe", {oldProgram, newProgram}}, {"data/records.csv", {oldData, data}}};
  for (int i = 0; i < kSmallFiles; ++i) {
    files.push_back({smallName(i), {smallFile(i, false), smallFile(i, i % (kSmallFiles / kChangedSmallFiles) == 0)}});
  }
  for (const auto& [path, versions] : files) {
    const bool changed = versions.first != versions.second;
    if (!testing_support::writeFileAt(oldTree / path, versions.first, kOldTime) ||
        !testing_support::writeFileAt(newTree / path, versions.second, changed ? kNewTime : kOldTime)) {
      error = "cannot write " + path;
      return false;
    }
    releases.paths.push_back(path);
    releases.treeBytes += versions.second.size();
    if (!changed) continue;
    releases.changed.push_back(path);
    releases.changedBytes += versions.second.size();
    releases.mappedBytes = std::max<std::uint64_t>(releases.mappedBytes, versions.first.size());
  }
  return true;
}

bool publish(const fs::path& tree, const fs::path& site, const fs::path& log, std::string& error) {
  const ChildRun run = runChild({KESTRUN_BENCH_PUBLISH, "--source", tree.string(), "--site", site.string(),
                                 "--platform", "windows", "--copy"},
                                environmentWith({}, {}), log, kRunTimeoutSeconds);
  if (run.exitCode == 0) return true;
  error = "kestrun-publish " + describeFailure(run, log);
  return false;
}

// Copies a tree with its files' times, as an installation of it would hold them.
void install(const fs::path& tree, const fs::path& target) {
  fs::remove_all(target);
  fs::create_directories(target);
  for (const auto& item : fs::recursive_directory_iterator(tree)) {
    if (!item.is_regular_file()) continue;
    const fs::path copy = target / item.path().lexically_relative(tree);
    fs::create_directories(copy.parent_path());
    fs::copy_file(item.path(), copy);
    fs::last_write_time(copy, fs::last_write_time(item.path()));
  }
}

// The record of installed digests that the update which installed these files wrote (an
// update reads it to pick its patches instead of hashing the installed files).
void recordDigests(const fs::path& installDir, const std::vector<std::string>& paths) {
  std::unordered_map<std::string, InstalledDigests::Item> items;
  for (const std::string& path : paths) {
    InstalledDigests::Item item;
    if (!InstalledDigests::plainFileStatus(installDir / path, item)) continue;
    item.sha256 = sha256Hex(readFile(installDir / path));
    items[path] = item;
  }
  std::string ignored;
  writeInstalledDigests(installDir, items, ignored);
}

struct Side {
  std::vector<double> seconds;
  double bytes = 0;
  double peakMiB = 0;
};

// Every figure of the update step is a ratio that must stay at or below its limit.
Figure ratioFigure(const char* name, double launcher, double baseline, double limit) {
  return measuredFigure(name, launcher, baseline, Goal::RatioAtMost, limit);
}

}  // namespace

Figures runUpdate(const Workspace& workspace) {
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure(kUpdateBytes, Goal::RatioAtMost, 0.05, why),
                   failedFigure(kInstallBytes, Goal::RatioAtMost, 0.45, why),
                   failedFigure(kUpdateSeconds, Goal::RatioAtMost, 1.2, why),
                   failedFigure(kInstallSeconds, Goal::RatioAtMost, 1.2, why),
                   failedFigure(kUpdateMemory, Goal::ValueAtMost, 64, why)};
  };
  const char* launchers = std::getenv("KESTRUN_BENCH_LAUNCHERS");
  if (launchers == nullptr) return failed("KESTRUN_BENCH_LAUNCHERS names no folder (bench/launcher-builds.sh)");
  const fs::path work = workspace.work / "update";
  const fs::path log = work / "run.log";
  Releases releases;
  std::string error;
  fs::create_directories(work);
  if (!writeReleases(launchers, work / "old", work / "new", releases, error) ||
      !publish(work / "old", work / "site", log, error) || !publish(work / "new", work / "site", log, error)) {
    return failed(error);
  }
  const fs::path served = workspace.servedRoot / "windows";
  fs::create_directories(served);
  fs::copy_file(work / "site/current/windows.json", served / "manifest.json");
  fs::create_directory_symlink(fs::canonical(work / "site/current/windows"), served / "files");
  fs::create_directory_symlink(fs::canonical(work / "site/current/windows.objects"), served / "objects");

  // curl is handed the whole files of each case in one list, on one connection.
  const auto curlList = [&](const fs::path& config, const std::vector<std::string>& paths) {
    std::ofstream out(config, std::ios::trunc);
    for (const std::string& path : paths) {
      out << "url = \"" << workspace.baseUrl << "/gis/update/file?platform=windows&path=" << path
          << "\"\noutput = \"" << (work / "curl" / path).string() << "\"\n";
    }
  };
  curlList(work / "changed.curlrc", releases.changed);
  curlList(work / "all.curlrc", releases.paths);

  Side update, firstInstall, curlChanged, curlAll;
  const auto measure = [&](const std::vector<std::string>& command, const fs::path* installFrom, Side& side,
                           bool counted) {
    if (installFrom != nullptr) {
      install(*installFrom, work / "install");
      recordDigests(work / "install", releases.paths);
    }
    if (installFrom == nullptr && command[0] != kCurl) fs::remove_all(work / "install");
    fs::create_directories(work / "install");
    fs::remove_all(work / "curl");
    const std::uint64_t before = workspace.server->bytesSent();
    fs::remove(log);
    const ChildRun run = runChild(command, environmentWith({}, {}), log, kRunTimeoutSeconds);
    if (run.exitCode != 0) {
      error = command[0] + " " + describeFailure(run, log);
      return false;
    }
    if (!counted) return true;
    side.seconds.push_back(run.seconds);
    side.bytes = static_cast<double>(workspace.server->bytesSent() - before);
    // The launcher's program prints its own peak ("peak VmHWM: N kB"); curl's is not needed.
    std::ifstream output(log);
    for (std::string line; std::getline(output, line);) {
      if (line.rfind("peak VmHWM:", 0) == 0) side.peakMiB = std::max(side.peakMiB, std::stod(line.substr(11)) / 1024);
    }
    return true;
  };
  const std::vector<std::string> launcher = {KESTRUN_BENCH_DOWNLOAD, "update", workspace.baseUrl, "windows",
                                             (work / "install").string()};
  const fs::path oldTree = work / "old";
  for (int pair = 0; pair <= kPairs; ++pair) {
    const bool counted = pair > 0;  // the first pair warms the caches
    if (!measure(launcher, &oldTree, update, counted) ||
        !measure({kCurl, "-sS", "-f", "--create-dirs", "-K", (work / "changed.curlrc").string()}, nullptr,
                 curlChanged, counted) ||
        !measure(launcher, nullptr, firstInstall, counted) ||
        !measure({kCurl, "-sS", "-f", "--create-dirs", "-K", (work / "all.curlrc").string()}, nullptr, curlAll,
                 counted)) {
      return failed(error);
    }
  }
  std::printf("update release: %zu files, %.1f MiB; %zu changed, %.1f MiB whole; largest old file mapped %.1f MiB\n",
              releases.paths.size(), releases.treeBytes / kMiB, releases.changed.size(), releases.changedBytes / kMiB,
              releases.mappedBytes / kMiB);
  Figure memory;
  memory.name = kUpdateMemory;
  memory.launcher = std::max(update.peakMiB, firstInstall.peakMiB);
  std::printf("peak resident memory: update %.1f MiB, first installation %.1f MiB\n", update.peakMiB,
              firstInstall.peakMiB);
  memory.goal = Goal::ValueAtMost;
  memory.limit = 64 + releases.mappedBytes / kMiB;
  return {ratioFigure(kUpdateBytes, update.bytes / kMiB, releases.changedBytes / kMiB, 0.05),
          ratioFigure(kInstallBytes, firstInstall.bytes / kMiB, releases.treeBytes / kMiB, 0.45),
          ratioFigure(kUpdateSeconds, median(update.seconds), median(curlChanged.seconds), 1.2),
          ratioFigure(kInstallSeconds, median(firstInstall.seconds), median(curlAll.seconds), 1.2),
          memory};
}

}  // namespace bench
