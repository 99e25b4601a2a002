// Automatic rollback of a release that replaced 1,000 small files. The real launcher: from the
// failed start of the new program to the start of the previous one. The library: rollBackRelease
// against a bare loop of renames that puts the same kept files back. The disk: the kept files
// are the replaced ones, moved (same inode), not copied.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "staging/rollback_journal.h"
#include "staging/staging_apply.h"
#include "tests/support/temp_dir.h"
#include "tools/release_manifest/release_manifest.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kReplaced = 1000;
constexpr int kWindowSeconds = 5;
constexpr int kLauncherRounds = 5;
constexpr int kLibraryRounds = 9;  // each side takes tens of milliseconds: a median of several
constexpr double kLibraryGoal = 1.1;
constexpr double kRunTimeoutSeconds = 60;
constexpr std::int64_t kOldTime = 1790000000;
constexpr std::int64_t kNewTime = 1790086400;
const char* const kRelease = "bench-rollback";
const char* const kLauncherName = "rollback: failed start to previous start, s (median of 5)";
const char* const kLibraryName = "rollBackRelease of 1000 kept files, ms (baseline: renames)";
const char* const kLauncherDisk = "launcher update: kept bytes, KiB (baseline: replaced files)";
const char* const kLibraryDisk = "applyStaging: kept bytes, KiB (baseline: replaced files)";

std::string dataName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "data/f%04d.ini", index);
  return name;
}

// `count` small files of 0.2 to 3 KiB; the new release adds a line to each.
std::vector<std::string> writeDataFiles(const fs::path& dir, int count, bool newer) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    std::string text = "[item " + std::to_string(i) + "]\n";
    for (int line = 0; line < 10 + (i * 37) % 140; ++line) text += "key" + std::to_string(line) + " = value\n";
    if (newer) text += "edited = yes\n";
    testing_support::writeFileAt(dir / dataName(i), text, newer ? kNewTime : kOldTime);
    paths.push_back(dataName(i));
  }
  return paths;
}

// The inode and size of each file the update will replace.
struct Item {
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  bool operator==(const Item&) const = default;
};
using Snapshot = std::map<std::string, Item>;

bool statItem(const fs::path& file, Item& item) {
  struct stat status {};
  if (lstat(file.c_str(), &status) != 0) return false;
  item = {static_cast<std::uint64_t>(status.st_ino), static_cast<std::uint64_t>(status.st_size)};
  return true;
}

Snapshot snapshot(const fs::path& dir, const std::vector<std::string>& paths) {
  Snapshot items;
  for (const std::string& path : paths) statItem(dir / path, items[path]);
  return items;
}

// What update_rollback/kept holds against the files it should hold: their bytes, and each of
// them the very file that stood in the installation (its inode).
Figure keptFigure(const char* name, const Snapshot& replaced, const fs::path& installDir) {
  std::uint64_t replacedBytes = 0, keptBytes = 0;
  std::size_t keptFiles = 0, sameInode = 0;
  for (const auto& [path, item] : replaced) replacedBytes += item.size;
  const fs::path keptDir = installDir / kRollbackDirectoryName / "kept";
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(keptDir, error); !error && it != fs::end(it); it.increment(error)) {
    Item kept;
    if (!it->is_regular_file() || !statItem(it->path(), kept)) continue;
    const auto found = replaced.find(it->path().lexically_relative(keptDir).generic_string());
    ++keptFiles;
    keptBytes += kept.size;
    sameInode += found != replaced.end() && found->second.inode == kept.inode ? 1 : 0;
  }
  std::printf("%s: %zu files kept of %zu replaced, %zu with the replaced file's inode\n", name, keptFiles,
              replaced.size(), sameInode);
  if (error) return failedFigure(name, Goal::RatioAtMost, 1.0, "cannot list " + keptDir.string());
  if (keptFiles != replaced.size() || sameInode != keptFiles) {
    return failedFigure(name, Goal::RatioAtMost, 1.0, "the kept files are not the replaced ones");
  }
  return measuredFigure(name, keptBytes / 1024.0, replacedBytes / 1024.0, Goal::RatioAtMost, 1.0);
}

// The sample program appends one line to vardel-starts.txt as it starts.
std::size_t startCount(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

// The moments at which the program's starts reached each count up to `starts`, polled every
// half millisecond until `deadline`.
std::vector<Clock::time_point> watchStarts(const fs::path& file, std::size_t starts, Clock::time_point deadline) {
  std::vector<Clock::time_point> seen;
  while (seen.size() < starts && Clock::now() < deadline) {
    const std::size_t count = startCount(file);
    const auto now = Clock::now();
    while (seen.size() < count) seen.push_back(now);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return seen;
}

// The time of day in milliseconds of the last log line that holds `text`; -1 when none does.
double lastLogMoment(const fs::path& logDir, const std::string& text) {
  double moment = -1;
  std::error_code error;
  for (const auto& file : fs::directory_iterator(logDir, error)) {
    std::ifstream in(file.path());
    for (std::string line; std::getline(in, line);) {
      int hours = 0, minutes = 0, seconds = 0, millis = 0;
      if (line.find(text) != std::string::npos &&
          std::sscanf(line.c_str(), "[%*d-%*d-%*d %d:%d:%d.%d]", &hours, &minutes, &seconds, &millis) == 4) {
        moment = ((hours * 60.0 + minutes) * 60 + seconds) * 1000 + millis;
      }
    }
  }
  return moment;
}

// An installation of the old release: the sample program staying up, 999 data files.
void installOld(const fs::path& install) {
  fs::remove_all(install);
  writeDataFiles(install, kReplaced - 1, false);
  std::ofstream(install / "vardel-behaviour.txt") << "stay 30\n";
  fs::copy_file(KESTRUN_BENCH_LAUNCHER, install / "Kestrun");
  fs::copy_file(KESTRUN_BENCH_SAMPLE_PROGRAM, install / kMainProgramFileName);
  fs::last_write_time(install / kMainProgramFileName, fs::last_write_time(KESTRUN_BENCH_SAMPLE_PROGRAM));
}

// The new release, served with the auto_rollback element: the same program, which now ends at
// once with code 3, and every data file changed.
bool publishNew(const fs::path& platformDir, std::string& error) {
  fs::remove_all(platformDir);
  const fs::path files = platformDir / "files";
  writeDataFiles(files, kReplaced - 1, true);
  std::ofstream(files / "vardel-behaviour.txt") << "exit 3\n";
  fs::copy_file(KESTRUN_BENCH_SAMPLE_PROGRAM, files / kMainProgramFileName);
  fs::last_write_time(files / kMainProgramFileName, fs::last_write_time(KESTRUN_BENCH_SAMPLE_PROGRAM));
  std::string json;
  if (!release_manifest::buildManifest(files, json, error)) return false;
  json.pop_back();  // the closing ']'
  std::ofstream(platformDir / "manifest.json")
      << json << R"(,{"auto_rollback":{"release":")" << kRelease << R"(","window_seconds":)" << kWindowSeconds
      << R"(,"failed_starts":2}}])";
  return true;
}

Figures launcherRollback(const Workspace& workspace) {
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure(kLauncherName, Goal::ValueAtMost, 1.0 + kWindowSeconds, why),
                   failedFigure(kLauncherDisk, Goal::RatioAtMost, 1.0, why)};
  };
  const fs::path work = workspace.work / "rollback";
  const fs::path install = work / "install";
  const fs::path output = work / "launcher.out";
  std::string error;
  if (!publishNew(workspace.servedRoot / "windows", error)) return failed("cannot publish: " + error);
  const fs::path home = work / "home";
  fs::create_directories(home);
  const std::vector<std::string> environment = environmentWith(
      {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "share").string(),
       "XDG_CONFIG_HOME=" + (home / "config").string()},
      {"DISPLAY", "WAYLAND_DISPLAY"});
  std::vector<std::string> replaced = {"vardel-behaviour.txt"};
  for (int i = 0; i < kReplaced - 1; ++i) replaced.push_back(dataName(i));

  std::vector<double> failedToPrevious, launcherToPrevious, inLauncher;
  Figure disk;
  for (int round = 0; round <= kLauncherRounds; ++round) {
    installOld(install);
    const Snapshot old = snapshot(install, replaced);
    // The update: the old program is stopped, the release applied, and its first start fails once.
    const ChildRun update = runChild({(install / "Kestrun").string()}, environment, output, kRunTimeoutSeconds);
    if (update.exitCode != 0) return failed("the update run " + describeFailure(update, output));
    if (round == 0) disk = keptFigure(kLauncherDisk, old, install);
    // The second failed start takes the release back.
    const fs::path starts = install / "vardel-starts.txt";
    const std::size_t before = startCount(starts);
    const auto launched = Clock::now();
    auto watch = std::async(std::launch::async, watchStarts, starts, before + 2, launched + std::chrono::seconds(20));
    const ChildRun rollback = runChild({(install / "Kestrun").string()}, environment, output, kRunTimeoutSeconds);
    const std::vector<Clock::time_point> seen = watch.get();
    std::ifstream behaviour(install / "vardel-behaviour.txt");
    std::string restored;
    std::getline(behaviour, restored);
    fs::remove(install / "vardel-behaviour.txt");  // the previous program ends once it is gone
    if (rollback.exitCode != 0) return failed("the rollback run " + describeFailure(rollback, output));
    if (seen.size() < before + 2 || restored != "stay 30" || fs::exists(install / kRollbackDirectoryName)) {
      return failed("the release was not taken back (see " + (install / "logs").string() + ")");
    }
    const double exited = lastLogMoment(install / "logs", "秒内退出：exitCode=");
    const double rolledBack = lastLogMoment(install / "logs", "回滚完成");
    if (round == 0) continue;  // warms the caches
    failedToPrevious.push_back(std::chrono::duration<double>(seen[before + 1] - seen[before]).count());
    launcherToPrevious.push_back(std::chrono::duration<double>(seen[before + 1] - launched).count());
    if (exited >= 0 && rolledBack >= exited) inLauncher.push_back(rolledBack - exited);
  }
  std::printf("rollback by the launcher: %d replaced files, window %d s; launcher start to previous start %.3f s, "
              "failed exit seen to rollback done (log) %.0f ms\n",
              kReplaced, kWindowSeconds, median(launcherToPrevious), median(inLauncher));
  return {measuredFigure(kLauncherName, median(failedToPrevious), 0, Goal::ValueAtMost, 1.0 + kWindowSeconds), disk};
}

// An installation of kReplaced files updated by as many staged ones under a journal, as the
// launcher applies a release that may be taken back.
bool applyKept(const fs::path& install, Snapshot& old, std::vector<std::string>& paths, std::string& error) {
  fs::remove_all(install);
  paths = writeDataFiles(install, kReplaced, false);
  writeDataFiles(install / kStagingDirectoryName, kReplaced, true);
  old = snapshot(install, paths);
  std::vector<ManifestEntry> entries;
  for (const std::string& path : paths) {
    ManifestEntry entry;
    entry.path = path;
    entries.push_back(entry);
  }
  AutoRollback settings;
  settings.present = true;
  settings.release = kRelease;
  RollbackJournal journal;
  if (!journal.begin(install, settings, error)) return false;
  const int applied = applyStaging(install / kStagingDirectoryName, install, entries, {}, {}, &journal);
  if (applied == kReplaced && journal.startProbation()) return true;
  error = "applyStaging put " + std::to_string(applied) + " files in place";
  return false;
}

Figures libraryRollback(const Workspace& workspace) {
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure(kLibraryName, Goal::RatioAtMost, kLibraryGoal, why),
                   failedFigure(kLibraryDisk, Goal::RatioAtMost, 1.0, why)};
  };
  const fs::path work = workspace.work / "rollback-library";
  const fs::path install = work / "install";
  // The launcher's log lines go to a file, as in a run.
  fs::create_directories(work);
  openLauncherLog(work, 0);
  Snapshot old;
  std::vector<std::string> paths;
  std::string error;
  Figure disk;
  std::vector<double> libraryMs, loopMs;
  for (int round = 0; round <= kLibraryRounds && error.empty(); ++round) {
    for (const bool library : {true, false}) {
      if (!applyKept(install, old, paths, error)) break;
      if (round == 0 && library) disk = keptFigure(kLibraryDisk, old, install);
      const auto begin = Clock::now();
      if (library) {
        ProbationRecord record;
        if (!readProbation(install, record) || !rollBackRelease(install, record, true)) {
          error = "rollBackRelease failed";
        }
      } else {
        const fs::path kept = install / kRollbackDirectoryName / "kept";
        std::error_code ignored;
        // Newest first, as a rollback must go (a folder comes back before what was added in it).
        for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
          fs::remove(install / *path, ignored);
          fs::rename(kept / *path, install / *path, ignored);
        }
      }
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
      // Both sides must have put every old file back, the very same file.
      if (snapshot(install, paths) != old) {
        error = std::string(library ? "rollBackRelease" : "the loop") + " did not put the old files back";
      }
      if (!error.empty()) break;
      if (round > 0) (library ? libraryMs : loopMs).push_back(ms);
    }
  }
  closeLauncherLog();
  fs::remove_all(work);
  if (!error.empty()) return failed(error);
  std::vector<double> pairRatios;
  for (std::size_t i = 0; i < libraryMs.size(); ++i) pairRatios.push_back(libraryMs[i] / loopMs[i]);
  std::printf("rollBackRelease: %d pairs, median of the pairs' ratios %.3f\n", kLibraryRounds, median(pairRatios));
  return {measuredFigure(kLibraryName, median(libraryMs), median(loopMs), Goal::RatioAtMost, kLibraryGoal), disk};
}

}  // namespace

Figures runRollback(const Workspace& workspace, bool launcherServes, const std::string& whyNot) {
  Figures figures = libraryRollback(workspace);
  if (launcherServes) {
    const Figures launcher = launcherRollback(workspace);
    figures.insert(figures.end(), launcher.begin(), launcher.end());
  } else {
    figures.push_back(failedFigure(kLauncherName, Goal::ValueAtMost, 1.0 + kWindowSeconds, whyNot));
  }
  fs::remove_all(workspace.servedRoot / "windows");
  fs::remove_all(workspace.work / "rollback");
  return figures;
}

}  // namespace bench
