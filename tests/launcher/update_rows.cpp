#include "tests/launcher/update_rows.h"

#include <algorithm>
#include <map>

namespace e2e {
namespace {

template <class Row>
std::vector<Row> rowsHere(std::vector<Row> rows) {
  rows.erase(std::remove_if(rows.begin(), rows.end(), [](const Row& row) { return !runsHere(row.platforms); }),
             rows.end());
  return rows;
}

// Sizes of the programs under test; the rows are built before the fixture has checked that
// the programs exist.
std::uintmax_t sizeOf(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  return ec ? 0 : size;
}

const std::string kFileRequest = "/gis/update/file?platform=windows&path=";
const std::string kNewConfig = "colour=teal\n";
const std::string kReleasedLauncher = "a launcher of the release\n";
const std::string kInstalledProductLauncher = "the installed Kestrun.exe\n";
const std::string kReleasedProductLauncher = "a Kestrun.exe of the release, longer\n";

std::string configNewer() {
  return "  [待更新] data/config.txt  mtime不同(本地=" + std::to_string(kConfigTime) +
         " 远端=" + std::to_string(kConfigTime + 1000) + ")";
}
std::string launcherLocked(const std::string& name, std::uintmax_t installedSize, std::size_t releasedSize) {
  return "  [跳过-自更新锁定] " + name + "  大小不同(本地=" + std::to_string(installedSize) +
         " 远端=" + std::to_string(releasedSize) + ")";
}

// The launcher's command line of the main program: recorded by the Windows stand-in only.
void expectCommandLine(const MainProgramStart& start, const Installation& installation,
                       const std::vector<std::string>& args) {
  if (buildSetup().windowsLauncher) {
    EXPECT_EQ(start.commandLine, windowsCommandLine(installation.mainProgramText(), args));
  }
}

}  // namespace

void PrintTo(const ExistingInstallationRow& row, std::ostream* out) { *out << row.name; }
void PrintTo(const FirstInstallationRow& row, std::ostream* out) { *out << row.name; }

std::vector<ExistingInstallationRow> existingInstallationRows() {
  const std::string launcher = Installation::launcherName();
  const std::string newProgramTail = "\nVardel build 2\n";
  const std::uintmax_t programSize = sizeOf(buildSetup().mainProgram);
  return rowsHere<ExistingInstallationRow>({
      // Same size, other bytes and a newer time: only the time tells the difference.
      {"OneChangedFileIsReplacedAndTheProgramRestartedWithUpdatedLast",
       Platforms::Both,
       {},
       {{"data/config.txt", kNewConfig, kConfigTime + 1000, true}},
       "",
       1,
       landedLines(1),
       reportCountsLine(3, 1, 0, 0),
       {configNewer()},
       {requestLine(kFileRequest + "data/config.txt", 200)},
       true},
      // Windows refuses to delete the file of a running program: Vardel.exe can only be
      // replaced because the launcher has stopped it first.
      {"RunningProgramIsStoppedReplacedAndStartedWithUpdatedLast",
       Platforms::Both,
       {},
       {{"Vardel.exe", newProgramTail, kVardelTime + 3000, true},
        {"data/config.txt", kNewConfig, kConfigTime + 1000, true}},
       "",
       2,
       landedLines(2),
       reportCountsLine(3, 2, 0, 0),
       {"  [待更新] Vardel.exe  大小不同(本地=" + std::to_string(programSize) + " 远端=" +
            std::to_string(programSize + newProgramTail.size()) + ")",
        configNewer()},
       {requestLine(kFileRequest + "Vardel.exe", 200), requestLine(kFileRequest + "data/config.txt", 200)},
       true},
      // A release that differs only in the launcher's own file: nothing is fetched, and the
      // main program started at once goes on running.
      {"ChangedLauncherEntryAloneLeavesTheRunningProgramAlone",
       Platforms::Both,
       {},
       {{launcher, kReleasedLauncher, 1700000500, false}},
       "",
       0,
       {},
       reportCountsLine(4, 0, 0, 1),
       {launcherLocked(launcher, sizeOf(buildSetup().launcher), kReleasedLauncher.size())},
       {},
       false},
      {"ChangedKestrunExeEntryIsLeftAloneAndCountedAsLocked",
       Platforms::WindowsOnly,
       {},
       {{"Kestrun.exe", kReleasedLauncher, 1700000500, false},
        {"data/config.txt", kNewConfig, kConfigTime + 1000, true}},
       "",
       1,
       landedLines(1),
       reportCountsLine(4, 1, 0, 1),
       {launcherLocked("Kestrun.exe", sizeOf(buildSetup().launcher), kReleasedLauncher.size()), configNewer()},
       {requestLine(kFileRequest + "data/config.txt", 200)},
       true},
      // On Linux the launcher's own file and the product's Kestrun.exe both differ: neither is
      // asked for nor replaced, and both are reported as locked.
      {"NeitherLauncherFileIsReplacedByAnUpdate",
       Platforms::LinuxOnly,
       {{"Kestrun.exe", kInstalledProductLauncher}},
       {{launcher, kReleasedLauncher, 1700000500, false},
        {"Kestrun.exe", kReleasedProductLauncher, 1700000600, false},
        {"data/config.txt", kNewConfig, kConfigTime + 1000, true}},
       "",
       1,
       landedLines(1),
       reportCountsLine(5, 1, 0, 2),
       {launcherLocked(launcher, sizeOf(buildSetup().launcher), kReleasedLauncher.size()),
        launcherLocked("Kestrun.exe", kInstalledProductLauncher.size(), kReleasedProductLauncher.size()),
        configNewer()},
       {requestLine(kFileRequest + "data/config.txt", 200)},
       true},
      {"DownloadThatKeepsFailingStartsTheOldProgramAgain",
       Platforms::Both,
       {},
       {{"data/config.txt", "colour=crimson, a longer line\n", kConfigTime + 50, false}},
       "file-status 503 data/config.txt\n",
       1,
       {{"WARN", "下载文件失败，将进行第 1/3 次重试：data/config.txt（HTTP 503）"},
        {"WARN", "下载文件失败，将进行第 2/3 次重试：data/config.txt（HTTP 503）"},
        {"WARN", "下载文件失败，将进行第 3/3 次重试：data/config.txt（HTTP 503）"},
        {"ERROR", "更新下载失败：下载文件失败：data/config.txt（HTTP 503）"}},
       reportCountsLine(3, 1, 0, 0),
       {"  [待更新] data/config.txt  大小不同(本地=12 远端=30)"},
       std::vector<std::string>(4, requestLine(kFileRequest + "data/config.txt", 503)),
       false},
  });
}

TEST_P(ExistingInstallation, RunningProgramIsStoppedAndStartedAgain) {
  const ExistingInstallationRow& row = GetParam();
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  for (const auto& [path, content] : row.installed) testing_support::writeFile(installation.dir() / path, content);
  std::map<std::string, std::pair<std::string, std::int64_t>> before;
  for (const ReleaseChange& change : row.changes) {
    const std::string content = change.path == "Vardel.exe"
                                    ? testing_support::readFile(buildSetup().mainProgram) + change.content
                                    : change.content;
    release().addFile(change.path, content, change.mtime);
    const fs::path installed = installation.dir() / change.path;
    before[change.path] = {testing_support::readFile(installed), mtimeOf(installed)};
  }
  writeFaults(faultsFile(), row.faults);
  auto server = startServer();
  ASSERT_TRUE(server->running());

  // A quote, an empty argument and a non-ASCII URL travel through the command lines.
  const std::vector<std::string> args = {"--profile", "say \"hi\"", "", "vardel://open?item=ü 9"};
  const LauncherOutcome outcome = installation.run(args, runOptions());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_TRUE(logMatches(outcome.log, row.pending == 0
                                          ? nothingToFetchLines(installation)
                                          : updateRunLines(installation, row.pending, row.afterStop)));

  for (const ReleaseChange& change : row.changes) {
    SCOPED_TRACE(change.path);
    const fs::path installed = installation.dir() / change.path;
    if (change.applied) {
      EXPECT_EQ(testing_support::readFile(installed), testing_support::readFile(release().platformDir() / change.path));
      EXPECT_EQ(mtimeOf(installed), change.mtime);
    } else {
      EXPECT_EQ(testing_support::readFile(installed), before[change.path].first);
      EXPECT_EQ(mtimeOf(installed), before[change.path].second);
    }
  }
  // A failed download leaves what it fetched for the next run to clear.
  if (row.restartedWithUpdated) {
    EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));
  }

  const std::vector<std::string> report = installation.updateReport();
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(isStampedReportLine(report[0], row.reportCounts)) << report[0];
  std::vector<std::string> reportRest = {reportServerLine()};
  reportRest.insert(reportRest.end(), row.reportEntries.begin(), row.reportEntries.end());
  EXPECT_EQ(std::vector<std::string>(report.begin() + 1, report.end()), reportRest);

  std::vector<std::string> requests = {requestLine("/gis/update/list?platform=windows", 200)};
  requests.insert(requests.end(), row.fileRequests.begin(), row.fileRequests.end());
  EXPECT_EQ(server->requests(), requests);

  // The early start may be stopped before it has written its record; the last record is the
  // start after the update phase. With nothing to fetch the early start is the only one.
  std::vector<std::string> lastArgs = args;
  if (row.restartedWithUpdated) lastArgs.push_back("--updated");
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  ASSERT_LE(starts.size(), row.pending == 0 ? 1u : 2u);
  if (starts.size() == 2) {
    EXPECT_EQ(starts[0].args, args);
    expectCommandLine(starts[0], installation, args);
  }
  EXPECT_EQ(starts.back().args, lastArgs);
  expectCommandLine(starts.back(), installation, lastArgs);
  EXPECT_EQ(starts.back().cwd, installation.dirText());
}

std::vector<FirstInstallationRow> firstInstallationRows() {
  // Wine 8 cannot make symbolic links the way Windows does; links under Windows are covered
  // by the Windows backend's own tests.
  return rowsHere<FirstInstallationRow>({
      {"WholeReleaseWithLinksIsFetchedAndTheProgramStarted", Platforms::LinuxOnly, true},
      {"EveryFileIsFetchedIntoSubfoldersAndTheProgramStarted", Platforms::Both, false},
      {"InstallationDirectoryOfMoreThanThreeHundredCharacters", Platforms::Both, false, true},
  });
}

TEST_P(FirstInstallation, FetchesTheReleaseAndStartsTheProgram) {
  const FirstInstallationRow& row = GetParam();
  if (!row.links) runner().note("the release holds no symbolic links: Wine 8 does not create Windows symbolic links");
  publishSampleRelease(release());
  addNestedFiles(release());
  if (row.links) {
    release().addLink("current", "data/levels/level 1.dat");
    release().addLink("bin/latest.dll", "My File+1 ü.dll");
  }
  // The launcher's own file is in the release too; the running one stays.
  release().addFile(Installation::launcherName(), kReleasedLauncher, 1700000500);
  writeFaults(faultsFile(), "");
  // The launcher finds its installation from its own path, however long.
  fs::path dir = root() / "install";
  for (char letter : std::string(row.longDirectory ? "abcde" : "")) dir /= std::string(60, letter);
  Installation installation(dir);
  ASSERT_TRUE(!row.longDirectory || installation.dirText().size() > 300u);
  installation.setMainProgramBehaviour("stay 60");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"vardel://open?project=42"};
  RunOptions options = runOptions();
  // Started from elsewhere: no system sets a working directory of more than 258 characters.
  if (row.longDirectory) options.workingDirectory = root();
  const LauncherOutcome outcome = installation.run(args, options);

  const std::string links = row.links ? "2" : "0";
  const int fetched = row.links ? 7 : 5;
  const std::string pending = std::to_string(fetched);
  // Wine 8 starts no program whose path passes 260 characters: CreateProcessW fails there for
  // the extended-length and the short (8.3) form alike. The installation is whole all the same.
  const bool startRefused = row.longDirectory && buildSetup().windowsLauncher;
  if (startRefused) runner().note("Wine 8 cannot start a program whose path passes 260 characters");
  const std::vector<Expected> started =
      startRefused ? std::vector<Expected>{{"INFO", "准备启动更新后的主程序：" + installation.mainProgramText()},
                                           {"ERROR", "CreateProcessW 无法启动 Vardel：{*}"}}
                   : observeLines(installation);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(logMatches(outcome.log,
                         concat({startLines(installation, false),
                                 {checkStartLine(),
                                  {"INFO", "更新检查完成：待更新文件=" + pending},
                                  {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"},
                                  {"INFO", "更新文件下载完成，开始落地"},
                                  {"INFO", "开始更新落地：普通文件=5，软链接=" + links},
                                  {"INFO", "更新落地结束：成功=" + pending + "，失败=0，跳过锁定=0，禁止落地=0"},
                                  {"INFO", "applyStaging 返回：成功落地=" + pending}},
                                 started, {closingLine()}})));

  // Every file with its bytes and time, every link with its target as stored.
  for (const char* path : {"Vardel.exe", "data/config.txt", "readme.txt", "bin/My File+1 ü.dll",
                           "data/levels/level 1.dat"}) {
    SCOPED_TRACE(path);
    const fs::path installed = installation.dir() / path;
    const fs::path published = release().platformDir() / path;
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(installed)));
    EXPECT_EQ(testing_support::readFile(installed), testing_support::readFile(published));
    EXPECT_EQ(mtimeOf(installed), mtimeOf(published));
  }
  if (row.links) {
    for (const auto& [path, target] : {std::pair<std::string, std::string>{"current", "data/levels/level 1.dat"},
                                       {"bin/latest.dll", "My File+1 ü.dll"}}) {
      SCOPED_TRACE(path);
      ASSERT_TRUE(fs::is_symlink(fs::symlink_status(installation.dir() / path)));
      EXPECT_EQ(fs::read_symlink(installation.dir() / path).string(), target);
    }
  }
  EXPECT_EQ(testing_support::readFile(installation.launcher()), testing_support::readFile(buildSetup().launcher));
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));

  // Files are asked for with their path percent-encoded segment by segment; links and the
  // locked launcher are never asked for.
  EXPECT_EQ(server->requests(), firstInstallationRequests());

  std::vector<std::string> entries = {
      reportServerLine(),
      launcherLocked(Installation::launcherName(), sizeOf(buildSetup().launcher), kReleasedLauncher.size()),
      "  [待更新] Vardel.exe  本地不存在",
      "  [待更新] bin/My File+1 ü.dll  本地不存在"};
  if (row.links) {
    entries.push_back("  [待更新] bin/latest.dll  应为软链接但本地不是（需重建）");
    entries.push_back("  [待更新] current  应为软链接但本地不是（需重建）");
  }
  entries.insert(entries.end(), {"  [待更新] data/config.txt  本地不存在",
                                 "  [待更新] data/levels/level 1.dat  本地不存在",
                                 "  [待更新] readme.txt  本地不存在"});
  const std::vector<std::string> report = installation.updateReport();
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(fetched + 1, fetched, 0, 1)))
      << report[0];
  EXPECT_EQ(std::vector<std::string>(report.begin() + 1, report.end()), entries);

  // A first installation starts the program without "--updated", in the installation (in the
  // short form of its name where the whole one is too long for a working directory).
  if (startRefused) return;
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].args, args);
  expectCommandLine(starts[0], installation, args);
  if (!row.longDirectory) {
    EXPECT_EQ(starts[0].cwd, installation.dirText());
  }
}

class DeepPath : public LauncherEndToEnd {};

// Wine does not enforce the 260-character limit, so this shows that a deep name travels through
// the whole run intact; tests/platform checks the extended-length form that Windows needs.
TEST_F(DeepPath, FileWhoseFullPathPassesThreeHundredCharactersInstallsThenUpdates) {
  std::string deep = "data";
  for (char letter : std::string("abcde")) deep += "/" + std::string(60, letter);
  deep += "/level.dat";
  publishSampleRelease(release());
  release().addFile(deep, "level one\n", kConfigTime);
  writeFaults(faultsFile(), "");
  Installation installation(root() / "install");
  ASSERT_GT(installation.dirText().size() + 1 + deep.size(), 300u);
  installation.setMainProgramBehaviour("stay 60");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const LauncherOutcome installed = installation.run({}, runOptions());
  ASSERT_TRUE(installed.finished);
  EXPECT_TRUE(logMatches(installed.log, concat({startLines(installation, false),
                                                {checkStartLine(), {"INFO", "更新检查完成：待更新文件=4"},
                                                 {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"}},
                                                landedLines(4), observeLines(installation), {closingLine()}})));
  EXPECT_EQ(testing_support::readFile(installation.dir() / deep), "level one\n");

  release().addFile(deep, "level one, second edition\n", kConfigTime + 1000);
  const LauncherOutcome updated = installation.run({}, runOptions());
  ASSERT_TRUE(updated.finished);
  EXPECT_TRUE(logMatches(updated.log, updateRunLines(installation, 1, landedLines(1))));
  EXPECT_EQ(testing_support::readFile(installation.dir() / deep), "level one, second edition\n");
  EXPECT_EQ(mtimeOf(installation.dir() / deep), kConfigTime + 1000);
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));
}

}  // namespace e2e
