// The fault matrix: the built launcher against a release server that misbehaves on purpose
// (see the faults file in docs/release-server.md), and against an installation that cannot be
// written as usual. Every row ends the same way: each installed file holds the old or the new
// release's bytes, never a part; nothing outside the installation changed; the main program
// was started with the right arguments, or a first installation got its message; the log
// holds the line that explains what happened; the exit code is 0.

#include <chrono>
#include <cstdio>
#include <fstream>

#include "tests/faults/fault_support.h"
#include "tests/launcher/e2e_fixture.h"
#include "tests/support/loopback_server.h"
#include "tools/release_server/release_routes.h"
#include "ui/ui_text.h"

namespace e2e {
namespace {

using faults::generatedBytes;

constexpr std::int64_t kOldTime = 1700000000;
constexpr std::int64_t kNewTime = 1700100000;
constexpr int kDiskLimitKiB = 32;

// The files that differ between the two releases; Vardel.exe and readme.txt do not. The
// manifest lists them in this order, so data/big.bin is the first one fetched.
struct ChangingFile {
  std::string path;
  std::string oldBytes;
  std::string newBytes;
};
const std::vector<ChangingFile>& changingFiles() {
  static const std::vector<ChangingFile> files = {
      {"data/big.bin", generatedBytes(48 * 1024, 1), generatedBytes(40 * 1024, 2)},  // above the disk limit
      {"data/config.txt", "colour=blue\n", "colour=teal, brighter\n"},
      {"docs/manual.txt", "manual, first edition\n", "manual, second edition with more\n"},
  };
  return files;
}

void publish(Release& release, bool newer) {
  release.addProgram("Vardel.exe", buildSetup().mainProgram, kVardelTime);
  release.addFile("readme.txt", "Fennick sample release\n", kReadmeTime);
  for (const ChangingFile& file : changingFiles()) {
    release.addFile(file.path, newer ? file.newBytes : file.oldBytes, newer ? kNewTime : kOldTime);
  }
}

// A manifest of `entries` entries: the new release's changed files, then readme.txt over and
// over, up to date each time.
void writeLongManifest(const fs::path& file, int entries) {
  std::ofstream out(file, std::ios::binary);
  out << "[";
  for (const ChangingFile& changing : changingFiles()) {
    out << R"({"path":")" << changing.path << R"(","size":)" << changing.newBytes.size() << R"(,"mtime":)"
        << kNewTime << "},\n";
  }
  const std::string readme = R"({"path":"readme.txt","size":23,"mtime":)" + std::to_string(kReadmeTime) + "}";
  for (int i = static_cast<int>(changingFiles().size()); i < entries; ++i) {
    out << readme << (i + 1 < entries ? ",\n" : "]");
  }
}

enum class Local { None, DiskFull, ReadOnlyInstallation, StagingIsAFile, TargetCannotBeReplaced };

// What the installation holds afterwards.
enum class End { New, Old, NewButManual };

struct FaultRow {
  const char* name;
  // The faults file; {OTHER} stands for the address of a second server, {MANIFEST} for a long
  // manifest. A fault that makes the server close the connection first is served by the
  // second server on a port of its own: the closing side's port stays in TIME_WAIT for a
  // minute, and the launcher's one built-in port cannot wait that long.
  std::string faults;
  Local local;
  bool firstInstallation;
  End end;
  std::vector<Expected> explaining;  // log lines that must appear, in this order
  std::string message;               // on standard error (the message box without a display); empty: none
  bool shortStall = false;           // run the launcher whose stall bound is 2 s
  int manifestEntries = 0;           // the size of {MANIFEST}
  double peakLimitMiB = 0;           // 0: not measured
  std::string otherFaults = {};      // the second server's faults file
};

// gtest names the row in its output instead of dumping its bytes.
void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

Expected downloadFailed(const std::string& reason) {
  return {"ERROR", "更新下载失败：下载文件失败：data/big.bin（" + reason + "）"};
}
Expected retry(int n, const std::string& reason) {
  return {"WARN", "下载文件失败，将进行第 " + std::to_string(n) + "/3 次重试：data/big.bin（" + reason + "）"};
}
const Expected kAllApplied{"INFO", "applyStaging 返回：成功落地=3"};
const Expected kTooLarge{"WARN", "更新检查失败：无法获取更新清单：更新清单超过 64 MiB"};
const std::string kIncomplete = uiText(false, UiText::ApplicationIncomplete);
const std::string kUnreachable = uiText(false, UiText::ServerUnreachable);
// The limit on the launcher's memory while an oversized manifest comes in: the bounded body
// and its last doubling, with room for the sanitizers' own bookkeeping.
constexpr double kManifestMemoryMiB = 384;

std::vector<FaultRow> faultRows() {
  std::vector<FaultRow> rows;
  for (const int status : {404, 500, 503}) {
    const std::string code = std::to_string(status);
    const std::string http = "HTTP " + code;
    rows.push_back({"", "file-status " + code + " data/big.bin", Local::None, false, End::Old,
                    {retry(3, http), downloadFailed(http)}, ""});
    rows.push_back({"", "file-flap " + code + " 2 data/big.bin", Local::None, false, End::New,
                    {retry(2, http), kAllApplied}, ""});
  }
  static const char* const names[] = {"Status404", "Flapping404", "Status500", "Flapping500", "Status503", "Flapping503"};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].name = names[i];

  const std::string shortBody = "文件大小不符：清单=" + std::to_string(40 * 1024) + "，实际=1000";
  const std::vector<FaultRow> more = {
      {"Status404OnFirstInstallation", "file-status 404 data/big.bin", Local::None, true, End::Old,
       {downloadFailed("HTTP 404")}, kIncomplete},
      {"CutMidBody", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {downloadFailed("Transferred a partial file")}, "", false, 0, 0, "file-cut 1000 data/big.bin"},
      {"ShortBodyWithoutLength", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {retry(1, shortBody), retry(3, shortBody), downloadFailed(shortBody)}, "", false, 0, 0,
       "file-short 1000 data/big.bin"},
      {"Stall", "file-stall 60 data/big.bin", Local::None, false, End::Old,
       {retry(1, "Timeout was reached"), downloadFailed("Timeout was reached")}, "", true},
      {"Throttled", "file-throttle 10000 data/big.bin", Local::None, false, End::New, {kAllApplied}, ""},
      // The server closes a connection after five requests, and the loop makes thirty.
      {"RedirectLoop", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {downloadFailed("Number of redirects hit maximum amount")}, "", false, 0, 0, "file-redirect-loop data/big.bin"},
      {"RedirectToAnotherPort", "file-redirect {OTHER} data/big.bin", Local::None, false, End::New, {kAllApplied}, ""},
      {"EndlessManifest", "list-endless", Local::None, false, End::Old, {kTooLarge}, "", false, 0, kManifestMemoryMiB},
      {"EndlessManifestOnFirstInstallation", "list-endless", Local::None, true, End::Old, {kTooLarge}, kUnreachable,
       false, 0, kManifestMemoryMiB},
      {"HugeManifest", "list-padded 100000000", Local::None, false, End::Old, {kTooLarge}, "", false, 0,
       kManifestMemoryMiB},
      {"MillionEntryManifest", "list-body {MANIFEST}", Local::None, false, End::New,
       {{"INFO", "更新检查完成：待更新文件=3"}, kAllApplied}, "", false, 1000000, 1e9},
      {"DiskFull", "", Local::DiskFull, false, End::Old,
       {downloadFailed("Failed writing received data to disk/application")}, ""},
      {"ReadOnlyInstallation", "", Local::ReadOnlyInstallation, false, End::Old,
       {{"ERROR", "更新下载失败：无法创建更新暂存目录：{*}/update_staging"}}, ""},
      {"StagingIsAPlainFile", "", Local::StagingIsAFile, false, End::New, {kAllApplied}, ""},
      {"TargetCannotBeReplaced", "", Local::TargetCannotBeReplaced, false, End::NewButManual,
       {{"ERROR", "更新文件落地失败：docs/manual.txt；原因：{*}"}, {"INFO", "applyStaging 返回：成功落地=2"}}, ""},
  };
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), value);
  }
}

// Sets up the local fault; what it undoes runs when the row ends.
struct LocalFault {
  std::vector<std::string> shell;  // runs the launcher; empty: started directly
  std::vector<fs::path> lockedDirs;
  ~LocalFault() {
    for (const fs::path& dir : lockedDirs) fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
  }
};

void prepare(Local local, const Installation& installation, LocalFault& fault) {
  const fs::path dir = installation.dir();
  switch (local) {
    case Local::None:
      return;
    case Local::DiskFull:
      fault.shell = faults::diskFullShell(kDiskLimitKiB);
      return;
    case Local::ReadOnlyInstallation:
      // The log and the main program's record of its starts are there already, so both can
      // still be written; nothing else can.
      fs::create_directories(dir / "logs");
      testing_support::writeFile(dir / "vardel-starts.txt", "");
      fault.lockedDirs.push_back(dir);
      break;
    case Local::StagingIsAFile:
      testing_support::writeFile(dir / "update_staging", "a plain file where the staging directory goes\n");
      return;
    case Local::TargetCannotBeReplaced:
      fault.lockedDirs.push_back(dir / "docs");
      break;
  }
  for (const fs::path& locked : fault.lockedDirs) {
    fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  fault.shell = faults::plainUserShell();
}

std::string expectedBytes(const FaultRow& row, const ChangingFile& file) {
  const bool updated = row.end == End::New || (row.end == End::NewButManual && file.path != "docs/manual.txt");
  return updated ? file.newBytes : row.firstInstallation ? std::string() : file.oldBytes;
}

class FaultMatrix : public LauncherEndToEnd, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultMatrix, LeavesAWorkingInstallation) {
  const FaultRow& row = GetParam();
  publish(release(), true);
  Release oldRelease(root() / "old-release");
  publish(oldRelease, false);
  Installation installation(root() / "install");
  if (row.shortStall) {
    fs::copy_file(KESTRUN_FAULTS_SHORT_STALL_LAUNCHER, installation.launcher(), fs::copy_options::overwrite_existing);
  }
  if (!row.firstInstallation) installation.mirror(oldRelease);
  installation.setMainProgramBehaviour("exit 0");

  // A second server on a port of its own, serving the same release, for the redirects.
  testing_support::LoopbackServer other;
  writeFaults(root() / "other-faults.txt", row.otherFaults + "\n");
  release_server::installReleaseRoutes(other.server(), {release().root(), root() / "other-faults.txt"});
  other.start();
  std::string directives = row.faults;
  replaceAll(directives, "{OTHER}", other.baseUrl());
  replaceAll(directives, "{MANIFEST}", (root() / "manifest.json").string());
  if (row.manifestEntries > 0) writeLongManifest(root() / "manifest.json", row.manifestEntries);
  writeFaults(faultsFile(), directives + "\n");

  LocalFault fault;
  prepare(row.local, installation, fault);
  auto server = startServer();
  ASSERT_TRUE(server->running());
  const auto outsideBefore = faults::outsideSnapshot(root(), installation.dir());

  const std::vector<std::string> args = {"vardel://open?item=7", "--profile"};
  RunOptions options;
  options.interpreter = fault.shell;
  const auto began = std::chrono::steady_clock::now();
  Installation::Started started = installation.start(args, options);
  ASSERT_TRUE(started.process);
  faults::PeakMemory peak(platform::processId(*started.process));
  const LauncherOutcome outcome = installation.finish(std::move(started), 600000);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double peakMiB = peak.stopMiB();
  if (row.peakLimitMiB > 0) {
    std::printf("[ faults   ] %s: %.1f s, launcher peak memory %.0f MiB\n", row.name, seconds, peakMiB);
    EXPECT_LT(peakMiB, row.peakLimitMiB);
  }

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(faults::holdsInOrder(outcome.log, row.explaining));
  if (!row.message.empty()) {
    EXPECT_NE(outcome.standardError.find(row.message), std::string::npos) << outcome.standardError;
  }

  // Every file is old or new, whole, as the row expects; the unchanged ones stay.
  for (const ChangingFile& file : changingFiles()) {
    SCOPED_TRACE(file.path);
    const fs::path installed = installation.dir() / file.path;
    std::error_code ignored;
    EXPECT_TRUE(testing_support::readFile(installed) == expectedBytes(row, file))
        << fs::file_size(installed, ignored) << " bytes";
  }
  const bool nothingInstalled = row.firstInstallation && row.end == End::Old;
  for (const char* path : {"Vardel.exe", "readme.txt"}) {
    const std::string expected = nothingInstalled ? "" : testing_support::readFile(release().platformDir() / path);
    EXPECT_TRUE(testing_support::readFile(installation.dir() / path) == expected) << path;
  }

  // The main program: restarted with the launcher's arguments, "--updated" after an update;
  // a first installation that could not complete starts nothing.
  const bool programStarts = !nothingInstalled;
  const std::vector<MainProgramStart> starts = installation.mainProgramStarts(programStarts ? 1 : 0, 3000);
  EXPECT_EQ(faults::outsideSnapshot(root(), installation.dir()), outsideBefore);
  if (!programStarts) {
    EXPECT_TRUE(starts.empty());
    return;
  }
  ASSERT_FALSE(starts.empty());
  std::vector<std::string> expectedArgs = args;
  if (row.end != End::Old && !row.firstInstallation) expectedArgs.push_back("--updated");
  EXPECT_EQ(starts.back().args, expectedArgs);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(faultRows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
