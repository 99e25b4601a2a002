// One file of 256 MiB of real binary content (this machine's own libraries and programs, laid
// end to end), published with kestrun-publish and then changed in 20 scattered 4 KiB blocks
// and by 64 KiB inserted in its middle: bytes moved by the update against the file whole, and
// the launcher's peak memory during the first installation and the update. Also reports how
// long each publish took and what the site keeps on disk.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "bench/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::size_t kFileBytes = std::size_t{256} << 20;
constexpr int kChangedBlocks = 20;
constexpr std::size_t kBlockBytes = 4096;
constexpr std::size_t kInsertedBytes = 64 * 1024;
constexpr int kRuns = 3;
constexpr double kPublishTimeoutSeconds = 1800;
constexpr double kRunTimeoutSeconds = 600;
constexpr const char* kPlatform = "large";
constexpr const char* kPath = "maps/europe.pak";

const char* const kUpdateBytes = "large file update: bytes moved, MiB (baseline: the file)";
const char* const kInstallMemory = "large file first installation: peak resident memory, MiB";
const char* const kUpdateMemory = "large file update: peak resident memory, MiB";

// The regular files under /usr/lib and /usr/bin in name order, end to end, cut at the size:
// the same bytes on every run on the same machine, and as compressible as real programs.
std::string realBinaryContent() {
  std::vector<fs::path> files;
  for (const char* root : {"/usr/lib", "/usr/bin"}) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
         it != end; it.increment(ec)) {
      if (!ec && it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::string bytes;
  bytes.reserve(kFileBytes);
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string part((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.append(part, 0, std::min(part.size(), kFileBytes - bytes.size()));
    if (bytes.size() == kFileBytes) break;
  }
  return bytes;
}

std::string noise(std::size_t size, std::uint64_t state) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    byte = static_cast<char>(state >> 56);
  }
  return bytes;
}

std::string changed(std::string bytes) {
  for (int block = 0; block < kChangedBlocks; ++block) {
    const std::size_t at = (bytes.size() / kChangedBlocks * block + 12345 * block) / kBlockBytes * kBlockBytes;
    bytes.replace(at, kBlockBytes, noise(kBlockBytes, 0x9E3779B97F4A7C15ULL + block));
  }
  bytes.insert(bytes.size() / 2, noise(kInsertedBytes, 0xD1B54A32D192ED03ULL));
  return bytes;
}

bool writeTree(const fs::path& tree, const std::string& bytes, std::int64_t mtime) {
  return testing_support::writeFileAt(tree / kPath, bytes, mtime);
}

std::uint64_t folderBytes(const fs::path& folder) {
  std::uint64_t total = 0;
  std::error_code ec;
  for (const auto& item : fs::recursive_directory_iterator(folder, ec)) {
    if (item.is_regular_file(ec) && !item.is_symlink(ec)) total += item.file_size(ec);
  }
  return total;
}

}  // namespace

Figures runLargeFile(const Workspace& workspace) {
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure(kUpdateBytes, Goal::RatioAtMost, 0.05, why),
                   failedFigure(kInstallMemory, Goal::ValueAtMost, 64, why),
                   failedFigure(kUpdateMemory, Goal::ValueAtMost, 64, why)};
  };
  const fs::path work = workspace.work / "large";
  const fs::path log = work / "run.log";
  fs::create_directories(work);
  const std::string oldBytes = realBinaryContent();
  if (oldBytes.size() != kFileBytes) return failed("less than 256 MiB under /usr/lib and /usr/bin");
  const std::string newBytes = changed(oldBytes);
  if (!writeTree(work / "old", oldBytes, 1790000000) || !writeTree(work / "new", newBytes, 1790086400)) {
    return failed("cannot write the releases");
  }
  const fs::path site = work / "site";
  for (const char* release : {"old", "new"}) {
    const ChildRun run = runChild({KESTRUN_BENCH_PUBLISH, "--source", (work / release).string(), "--site",
                                   site.string(), "--platform", kPlatform, "--copy"},
                                  environmentWith({}, {}), log, kPublishTimeoutSeconds);
    if (run.exitCode != 0) return failed("kestrun-publish " + describeFailure(run, log));
    std::printf("large file: publish of the %s release %.1f s\n", release, run.seconds);
  }
  const fs::path current = fs::canonical(site / "current");
  std::printf("large file: the site's objects of the current release %.1f MiB (the release's files %.1f MiB)\n",
              folderBytes(current / (std::string(kPlatform) + ".objects")) / kMiB,
              folderBytes(current / kPlatform) / kMiB);
  const fs::path served = workspace.servedRoot / kPlatform;
  fs::create_directories(served);
  fs::copy_file(current / (std::string(kPlatform) + ".json"), served / "manifest.json");
  fs::create_directory_symlink(current / kPlatform, served / "files");
  fs::create_directory_symlink(current / (std::string(kPlatform) + ".objects"), served / "objects");

  // One update from the old file, then one first installation, kRuns times.
  double updateBytes = 0, updatePeak = 0, installPeak = 0;
  std::vector<double> updateSeconds, installSeconds;
  const fs::path install = work / "install";
  for (int run = 0; run < 2 * kRuns; ++run) {
    const bool isUpdate = run % 2 == 0;
    fs::remove_all(install);
    if (isUpdate && !writeTree(install, oldBytes, 1790000000)) return failed("cannot write the installation");
    fs::create_directories(install);
    fs::remove(log);
    const std::uint64_t before = workspace.server->bytesSent();
    const ChildRun child = runChild({KESTRUN_BENCH_DOWNLOAD, "update", workspace.baseUrl, kPlatform, install.string()},
                                    environmentWith({}, {}), log, kRunTimeoutSeconds);
    if (child.exitCode != 0) return failed(std::string(KESTRUN_BENCH_DOWNLOAD) + " " + describeFailure(child, log));
    double peak = 0;
    std::ifstream output(log);
    for (std::string line; std::getline(output, line);) {
      if (line.rfind("peak VmHWM:", 0) == 0) peak = std::stod(line.substr(11)) / 1024;
    }
    (isUpdate ? updateSeconds : installSeconds).push_back(child.seconds);
    (isUpdate ? updatePeak : installPeak) = std::max(isUpdate ? updatePeak : installPeak, peak);
    if (isUpdate) updateBytes = static_cast<double>(workspace.server->bytesSent() - before);
  }
  fs::remove_all(install);
  fs::remove_all(work);
  std::printf("large file: update %.2f s, first installation %.2f s (median of %d)\n", median(updateSeconds),
              median(installSeconds), kRuns);
  return {measuredFigure(kUpdateBytes, updateBytes / kMiB, newBytes.size() / kMiB, Goal::RatioAtMost, 0.05),
          measuredFigure(kInstallMemory, installPeak, 0, Goal::ValueAtMost, 64),
          measuredFigure(kUpdateMemory, updatePeak, 0, Goal::ValueAtMost, 64)};
}

}  // namespace bench
