// The update check over a manifest of 100,000 installed, up-to-date files, set against the
// bare minimum of the same work: parse the same manifest and compare each entry with one lstat,
// once with a streaming parser (RapidJSON's SAX reader) and once through an nlohmann tree. And
// the peak memory of the check of a 60 MiB manifest of which nothing is installed.
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/reader.h>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "platform/filesystem.h"
#include "update/update_checker.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 100000;
constexpr int kEntriesPerFolder = 200;
constexpr int kPairs = 9;
constexpr double kGoal = 1.3;
constexpr double kTreeGoal = 1.0;
constexpr std::int64_t kFileMtime = 1700000000;  // 2023-11-14, a fixed past time
const char* const kName = "check of 100000 up-to-date entries, s";
const char* const kTreeName = "check of 100000 up-to-date entries against a tree parse, s";
constexpr int kMemoryEntries = 620000;
constexpr double kMemoryGoal = 2.0;
constexpr int kMemoryRuns = 3;
const char* const kMemoryName = "peak memory of the check of 620000 new entries, MiB (baseline: manifest size)";

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

std::string readWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The comparison each baseline makes: one lstat, then size and time.
bool upToDate(std::string& local, const std::string& installDir, const char* path, std::size_t length,
              std::int64_t size, std::int64_t mtime) {
  local.assign(installDir).append(1, '/').append(path, length);
  struct stat status;
  if (::lstat(local.c_str(), &status) != 0) return false;
  return status.st_size == size && std::llabs(status.st_mtime - mtime) <= 2;
}

// The first baseline: read and parse the manifest into an nlohmann tree, then compare each
// entry. Returns how many entries were up to date.
std::size_t treeCheck(const fs::path& manifestFile, const std::string& installDir) {
  const nlohmann::json manifest = nlohmann::json::parse(readWhole(manifestFile));
  std::size_t count = 0;
  std::string local;
  for (const nlohmann::json& entry : manifest) {
    const std::string& path = entry.at("path").get_ref<const std::string&>();
    count += upToDate(local, installDir, path.data(), path.size(), entry.at("size").get<std::int64_t>(),
                      entry.at("mtime").get<std::int64_t>());
  }
  return count;
}

// The second: RapidJSON's SAX reader, comparing each entry as its object closes.
struct StreamingCheck : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, StreamingCheck> {
  const std::string* installDir = nullptr;
  std::string local, path, key;
  std::int64_t size = 0, mtime = 0;
  std::size_t count = 0;
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    key.assign(text, length);
    return true;
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (key == "path") path.assign(text, length);
    return true;
  }
  bool Int64(std::int64_t value) { return number(value); }
  bool Uint64(std::uint64_t value) { return number(static_cast<std::int64_t>(value)); }
  bool Int(int value) { return number(value); }
  bool Uint(unsigned value) { return number(value); }
  bool number(std::int64_t value) {
    (key == "size" ? size : mtime) = value;
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    count += upToDate(local, *installDir, path.data(), path.size(), size, mtime);
    return true;
  }
};

std::size_t streamingCheck(const fs::path& manifestFile, const std::string& installDir) {
  const std::string text = readWhole(manifestFile);
  StreamingCheck handler;
  handler.installDir = &installDir;
  rapidjson::StringStream stream(text.c_str());
  rapidjson::Reader reader;
  return reader.Parse(stream, handler) ? handler.count : 0;
}

// A manifest of the shape of a large data installation (map tiles): about 100 bytes an entry.
bool writeMemoryManifest(const fs::path& manifestFile, std::uintmax_t& bytes) {
  fs::create_directories(manifestFile.parent_path());
  std::ofstream out(manifestFile, std::ios::binary | std::ios::trunc);
  out << '[';
  for (std::int64_t i = 0; i < kMemoryEntries; ++i) {
    out << (i == 0 ? "" : ",") << R"({"path":"data/maps/osm-europe-2026/tiles/z)" << 10 + i % 7 << "/x" << 100000 + i / 64 << "/y"
        << 200000 + i % 64 << R"(.webp","size":)" << 20000 + (i * 7919) % 90000 << R"(,"mtime":)"
        << 1700000000 + i % 86400 << "}";
  }
  out << ']';
  out.close();
  bytes = fs::file_size(manifestFile);
  return static_cast<bool>(out);
}

// The peak resident memory of the check alone (kestrun_bench_download check), in a process
// of its own, against an empty installation: every entry becomes pending.
Figure memoryFigure(const Workspace& workspace) {
  const fs::path manifestFile = workspace.servedRoot / "memory" / "manifest.json";
  const fs::path installDir = workspace.work / "memory-install";
  const fs::path log = workspace.work / "memory-check.log";
  std::uintmax_t bytes = 0;
  if (!writeMemoryManifest(manifestFile, bytes)) {
    return failedFigure(kMemoryName, Goal::RatioAtMost, kMemoryGoal, "cannot write the manifest");
  }
  std::vector<double> peaks;
  for (int run = 0; run < kMemoryRuns; ++run) {
    fs::remove_all(installDir);
    fs::create_directories(installDir);
    fs::remove(log);
    const ChildRun child = runChild({KESTRUN_BENCH_DOWNLOAD, "check", workspace.baseUrl, "memory", installDir.string()},
                                    environmentWith({}, {}), log, 120);
    if (child.exitCode != 0) return failedFigure(kMemoryName, Goal::RatioAtMost, kMemoryGoal, describeFailure(child, log));
    std::ifstream output(log);
    for (std::string line; std::getline(output, line);) {
      if (line.rfind("peak VmHWM:", 0) == 0) peaks.push_back(std::stod(line.substr(11)) / 1024);
    }
  }
  fs::remove_all(installDir);
  fs::remove(manifestFile);
  if (peaks.size() != static_cast<std::size_t>(kMemoryRuns)) {
    return failedFigure(kMemoryName, Goal::RatioAtMost, kMemoryGoal, "the check printed no peak");
  }
  return measuredFigure(kMemoryName, median(peaks), static_cast<double>(bytes) / (1024 * 1024), Goal::RatioAtMost,
                        kMemoryGoal);
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

  // One round first, not counted (it meets a cold cache for the freshly written folders); then
  // the three in turn.
  std::vector<double> launcherSeconds, streamingSeconds, treeSeconds;
  for (int pair = 0; pair <= kPairs; ++pair) {
    bool ok = false;
    const double ours = secondsOf([&] { ok = checker.checkForUpdates(errorText); });
    if (!ok) return {failedFigure(kName, Goal::RatioAtMost, kGoal, "check failed: " + errorText)};
    if (!checker.pending.empty()) {
      return {failedFigure(kName, Goal::RatioAtMost, kGoal,
                           std::to_string(checker.pending.size()) + " up-to-date entries found pending")};
    }
    std::size_t streamed = 0, treed = 0;
    const double streaming = secondsOf([&] { streamed = streamingCheck(manifestFile, installDir.string()); });
    const double tree = secondsOf([&] { treed = treeCheck(manifestFile, installDir.string()); });
    if (streamed != static_cast<std::size_t>(kEntries) || treed != static_cast<std::size_t>(kEntries)) {
      return {failedFigure(kName, Goal::RatioAtMost, kGoal, "a bare loop found entries that differ")};
    }
    if (pair == 0) continue;
    launcherSeconds.push_back(ours);
    streamingSeconds.push_back(streaming);
    treeSeconds.push_back(tree);
  }

  const double launcher = median(launcherSeconds);
  return {measuredFigure(kName, launcher, median(streamingSeconds), Goal::RatioAtMost, kGoal),
          measuredFigure(kTreeName, launcher, median(treeSeconds), Goal::RatioAtMost, kTreeGoal),
          memoryFigure(workspace)};
}

}  // namespace bench
