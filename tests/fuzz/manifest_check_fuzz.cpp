// A manifest body from the network through the update check: parsing, classification against
// a small installation in a temporary folder, and the writing of update.log. Every reader of
// the body is also set against the others (tests/update/manifest_readings.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "tests/support/temp_dir.h"
#include "tests/update/manifest_readings.h"
#include "update/update_checker.h"

namespace {

// The seeds name these files with these sizes and times, so the fuzzer reaches every verdict.
constexpr std::int64_t kInstalledTime = 1700000000;

const std::filesystem::path& installation() {
  static testing_support::TempDir dir;
  static const bool filled = [] {
    platform::createDirectories(dir / "bin");
    testing_support::writeFile(dir / "Vardel.exe", "hello");
    testing_support::writeFile(dir / "Kestrun.exe", "launcher");
    testing_support::writeFile(dir / "bin/lib.dll", "abc");
    platform::createFileSymlink("lib.dll", dir / "bin/link");
    platform::createFileSymlink("missing", dir / "dangling");
    for (const char* file : {"Vardel.exe", "Kestrun.exe", "bin/lib.dll"})
      platform::setLastWriteFileTime(dir / file, platform::unixSecondsToFileTime(kInstalledTime));
    return true;
  }();
  (void)filled;
  return dir.path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& dir = installation();
  const std::string body(reinterpret_cast<const char*>(data), size);
  // Every reader must agree on the outcome, the text, the warnings and every entry.
  for (const bool signedManifest : {false, true}) {
    ManifestReading tree;
    if (!body.empty() && !manifestReadersDisagree(body, signedManifest, tree).empty()) std::abort();
  }
  UpdateChecker checker("http://127.0.0.1:1", "windows", dir, dir / "update_staging");
  checker.lockedPatterns = {"Kestrun.exe", "vcruntime140*", "ucrtbase*"};
  checker.forbiddenPatterns = {"forbidden.dat"};
  platform::removeItem(dir / "update.log");

  std::string errorText;
  const bool checked = checker.checkManifestBody(body, errorText);
  const std::string report = checked ? testing_support::readFile(dir / "update.log") : std::string();
  // A successful check leaves its report with the pending count; a failed one leaves none.
  const std::string counted = "待更新 " + std::to_string(checker.pending.size()) + " 项";
  if (checked && report.find(counted) == std::string::npos) std::abort();
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (!checked && (errorText.rfind("更新清单", 0) != 0 || platform::queryItemKind(dir / "update.log", false, kind) ||
                   kind != platform::ItemKind::Missing))
    std::abort();
  for (const ManifestEntry& entry : checker.pending)
    if (entry.path.empty() || entry.path.find('\\') != std::string::npos) std::abort();
  return 0;
}
