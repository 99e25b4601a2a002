// The update check over a manifest of 100,000 installed, up-to-date files, set against the
// bare minimum of the same work: parse the same manifest and compare each entry with one lstat.
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_result.h"
#include "platform/filesystem.h"
#include "update/update_checker.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 100000;
constexpr int kEntriesPerFolder = 200;
constexpr int kPairs = 9;
constexpr double kGoal = 1.3;
constexpr std::int64_t kFileMtime = 1700000000;  // 2023-11-14, a fixed past time
const char* const kName = "check of 100000 up-to-date entries, s";

// Installs the files, each with its own size and the fixed time, and writes the manifest that
// describes them exactly.
bool installFiles(const fs::path& installDir, const fs::path& manifestFile, std::string& errorText) {
  nlohmann::json entries = nlohmann::json::array();
  for (int i = 0; i < kEntries; ++i) {
    const std::string path =
        "data/pack" + std::to_string(i / kEntriesPerFolder) + "/asset_" + std::to_string(i) + ".bin";
    const fs::path local = installDir / path;
    if (i % kEntriesPerFolder == 0) fs::create_directories(local.parent_path());
    const std::string content(static_cast<std::size_t>(i % 97), 'x');
    {
      std::ofstream out(local, std::ios::binary);
      out << content;
      if (!out) {
        errorText = "cannot write " + path;
        return false;
      }
    }
    if (platform::setLastWriteFileTime(local, platform::unixSecondsToFileTime(kFileMtime))) {
      errorText = "cannot set the time of " + path;
      return false;
    }
    entries.push_back({{"path", path}, {"size", content.size()}, {"mtime", kFileMtime}});
  }
  fs::create_directories(manifestFile.parent_path());
  std::ofstream out(manifestFile, std::ios::binary | std::ios::trunc);
  out << entries.dump();
  if (!out) errorText = "cannot write " + manifestFile.string();
  return static_cast<bool>(out);
}

// The baseline: read and parse the manifest, then one lstat and a size and time comparison
// per entry. Returns how many entries were up to date.
std::size_t bareCheck(const fs::path& manifestFile, const std::string& installDir) {
  std::ifstream in(manifestFile, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const nlohmann::json manifest = nlohmann::json::parse(text);
  std::size_t upToDate = 0;
  std::string local;
  for (const nlohmann::json& entry : manifest) {
    local = installDir + '/' + entry.at("path").get_ref<const std::string&>();
    struct stat status;
    if (::lstat(local.c_str(), &status) != 0) continue;
    const auto size = entry.at("size").get<std::int64_t>();
    const auto mtime = entry.at("mtime").get<std::int64_t>();
    if (status.st_size == size && std::llabs(status.st_mtime - mtime) <= 2) ++upToDate;
  }
  return upToDate;
}

template <typename Work>
double secondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Figures runCheck(const Workspace& workspace) {
  const fs::path installDir = workspace.work / "check-install";
  const fs::path manifestFile = workspace.servedRoot / "check" / "manifest.json";
  std::string errorText;
  if (!installFiles(installDir, manifestFile, errorText)) return {failedFigure(kName, Goal::RatioAtMost, kGoal, errorText)};

  UpdateChecker checker(workspace.baseUrl, "check", installDir, installDir / "update_staging");
  checker.lockedPatterns = {"Kestrun",   "Kestrun.exe", "vcruntime140*", "msvcp140*",
                            "concrt140*", "ucrtbase*",   "api-ms-win-*"};

  // One pair first, not counted (it meets a cold cache for the freshly written folders); then
  // the two in turn.
  std::vector<double> launcherSeconds, bareSeconds;
  for (int pair = 0; pair <= kPairs; ++pair) {
    bool ok = false;
    const double ours = secondsOf([&] { ok = checker.checkForUpdates(errorText); });
    if (!ok) return {failedFigure(kName, Goal::RatioAtMost, kGoal, "check failed: " + errorText)};
    if (!checker.pending.empty()) {
      return {failedFigure(kName, Goal::RatioAtMost, kGoal,
                           std::to_string(checker.pending.size()) + " up-to-date entries found pending")};
    }
    std::size_t upToDate = 0;
    const double bare = secondsOf([&] { upToDate = bareCheck(manifestFile, installDir.string()); });
    if (upToDate != static_cast<std::size_t>(kEntries)) {
      return {failedFigure(kName, Goal::RatioAtMost, kGoal, "the bare loop found entries that differ")};
    }
    if (pair == 0) continue;
    launcherSeconds.push_back(ours);
    bareSeconds.push_back(bare);
  }

  Figure figure;
  figure.name = kName;
  figure.launcher = median(launcherSeconds);
  figure.baseline = median(bareSeconds);
  figure.goal = Goal::RatioAtMost;
  figure.limit = kGoal;
  return {figure};
}

}  // namespace bench
