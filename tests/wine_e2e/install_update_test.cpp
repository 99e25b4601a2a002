// Kestrun.exe under Wine installing and updating: a first installation of a whole release, and
// runs of an existing installation whose main program is running when the check finds files to
// fetch (a normal update, a changed launcher entry, a download that keeps failing).

#include <map>

#include "tests/launcher/e2e_fixture.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using namespace e2e;

class WineInstallation : public WineEndToEnd {};

// Wine 8 cannot make symbolic links the way Windows does, so this release holds files only;
// links are covered natively (tests/launcher) and by the Windows backend's own tests.
TEST_F(WineInstallation, FirstInstallationFetchesEveryFileIntoSubfoldersAndStartsTheProgram) {
  wineNote("the release holds no symbolic links: Wine 8 does not create Windows symbolic links");
  publishSampleRelease(release());
  addNestedFiles(release());
  // The running launcher's own file is in the release too; it stays.
  release().addFile("Kestrun.exe", "a launcher of the release\n", 1700000500);
  writeFaults(faultsFile(), "");
  Installation installation(root() / "install");
  installation.setMainProgramBehaviour("stay 60");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"vardel://open?project=42"};
  const LauncherOutcome outcome = installation.run(args, wineRun());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_TRUE(logMatches(outcome.log,
                         concat({startLines(installation, false),
                                 {checkStartLine(),
                                  {"INFO", "更新检查完成：待更新文件=5"},
                                  {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"},
                                  {"INFO", "更新文件下载完成，开始落地"},
                                  {"INFO", "开始更新落地：普通文件=5，软链接=0"},
                                  {"INFO", "更新落地结束：成功=5，失败=0，跳过锁定=0，禁止落地=0"},
                                  {"INFO", "applyStaging 返回：成功落地=5"}},
                                 observeLines(installation), {closingLine()}})));

  for (const char* path : {"Vardel.exe", "bin/My File+1 ü.dll", "data/config.txt",
                           "data/levels/level 1.dat", "readme.txt"}) {
    SCOPED_TRACE(path);
    const fs::path installed = installation.dir() / path;
    const fs::path published = release().platformDir() / path;
    ASSERT_TRUE(fs::is_regular_file(installed));
    EXPECT_EQ(testing_support::readFile(installed), testing_support::readFile(published));
    EXPECT_EQ(mtimeOf(installed), mtimeOf(published));
  }
  EXPECT_EQ(testing_support::readFile(installation.launcher()),
            testing_support::readFile(buildSetup().launcher));
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));

  EXPECT_EQ(server->requests(), firstInstallationRequests());

  const std::vector<std::string> report = installation.updateReport();
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(6, 5, 0, 1))) << report[0];
  EXPECT_EQ(std::vector<std::string>(report.begin() + 1, report.end()),
            (std::vector<std::string>{
                reportServerLine(),
                "  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=" +
                    std::to_string(fs::file_size(buildSetup().launcher)) + " 远端=26)",
                "  [待更新] Vardel.exe  本地不存在",
                "  [待更新] bin/My File+1 ü.dll  本地不存在",
                "  [待更新] data/config.txt  本地不存在",
                "  [待更新] data/levels/level 1.dat  本地不存在",
                "  [待更新] readme.txt  本地不存在"}));

  // A first installation starts the program without "--updated", in the installation.
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].args, args);
  EXPECT_EQ(starts[0].commandLine, windowsCommandLine(installation.mainProgramText(), args));
  EXPECT_EQ(starts[0].cwd, installation.dirText());
}

// A release that differs only in the launcher's own file: nothing is fetched, and the main
// program started at once goes on running.
TEST_F(WineInstallation, ChangedKestrunExeEntryAloneLeavesTheRunningProgramAlone) {
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  release().addFile("Kestrun.exe", "a launcher of the release\n", 1700000500);
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const LauncherOutcome outcome = installation.run({"--quiet"}, wineRun());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(logMatches(outcome.log, nothingToFetchLines(installation)));
  EXPECT_EQ(testing_support::readFile(installation.launcher()),
            testing_support::readFile(buildSetup().launcher));
  const std::vector<std::string> report = installation.updateReport();
  ASSERT_EQ(report.size(), 3u);
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(4, 0, 0, 1))) << report[0];
  EXPECT_EQ(report[2], "  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=" +
                           std::to_string(fs::file_size(buildSetup().launcher)) + " 远端=26)");
  EXPECT_EQ(server->requests(),
            std::vector<std::string>{requestLine("/gis/update/list?platform=windows", 200)});
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].args, std::vector<std::string>{"--quiet"});
}

// Wine does not enforce the 260-character limit, so this shows that a deep name travels through
// the whole run intact; tests/platform checks the extended-length form that Windows needs.
TEST_F(WineInstallation, FileWhoseFullPathPassesThreeHundredCharactersInstallsThenUpdates) {
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

  const LauncherOutcome installed = installation.run({}, wineRun());
  ASSERT_TRUE(installed.finished);
  EXPECT_TRUE(logMatches(installed.log, concat({startLines(installation, false),
                                                {checkStartLine(), {"INFO", "更新检查完成：待更新文件=4"},
                                                 {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"}},
                                                landedLines(4), observeLines(installation), {closingLine()}})));
  EXPECT_EQ(testing_support::readFile(installation.dir() / deep), "level one\n");

  release().addFile(deep, "level one, second edition\n", kConfigTime + 1000);
  const LauncherOutcome updated = installation.run({}, wineRun());
  ASSERT_TRUE(updated.finished);
  EXPECT_TRUE(logMatches(updated.log, updateRunLines(installation, 1, landedLines(1))));
  EXPECT_EQ(testing_support::readFile(installation.dir() / deep), "level one, second edition\n");
  EXPECT_EQ(mtimeOf(installation.dir() / deep), kConfigTime + 1000);
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));
}

// One file that the release changes against the mirrored installation.
struct ReleaseChange {
  std::string path;
  std::string content;  // for Vardel.exe: bytes appended to the program, which still runs
  std::int64_t mtime;
  bool applied;         // whether the installation holds the release's file afterwards
};

struct ExistingInstallationCase {
  std::string name;
  std::vector<ReleaseChange> changes;
  std::string faults;
  int pending;
  std::vector<Expected> afterStop;  // the log lines between the stop and the restart
  std::string reportCounts;
  std::vector<std::string> reportEntries;
  std::vector<std::string> fileRequests;  // after the manifest request
  bool restartedWithUpdated;
};

// Sizes of the programs under test; the rows are built before the fixture has checked that
// the programs exist.
std::uintmax_t sizeOf(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  return ec ? 0 : size;
}
std::string programSize() { return std::to_string(sizeOf(buildSetup().mainProgram)); }
std::string launcherSize() { return std::to_string(sizeOf(buildSetup().launcher)); }

std::vector<ExistingInstallationCase> existingInstallationCases() {
  const std::string newProgramTail = "\nVardel build 2\n";
  const std::string fileRequest = "/gis/update/file?platform=windows&path=";
  return {
      // Wine, like Windows, refuses to delete the file of a running program: Vardel.exe can
      // only be replaced because the launcher has stopped it first.
      {"RunningProgramIsStoppedReplacedAndStartedWithUpdatedLast",
       {{"Vardel.exe", newProgramTail, kVardelTime + 3000, true},
        {"data/config.txt", "colour=teal\n", kConfigTime + 1000, true}},
       "",
       2,
       landedLines(2),
       reportCountsLine(3, 2, 0, 0),
       {"  [待更新] Vardel.exe  大小不同(本地=" + programSize() + " 远端=" +
            std::to_string(sizeOf(buildSetup().mainProgram) + newProgramTail.size()) + ")",
        "  [待更新] data/config.txt  mtime不同(本地=" + std::to_string(kConfigTime) +
            " 远端=" + std::to_string(kConfigTime + 1000) + ")"},
       {requestLine(fileRequest + "Vardel.exe", 200), requestLine(fileRequest + "data/config.txt", 200)},
       true},
      {"ChangedKestrunExeEntryIsLeftAloneAndCountedAsLocked",
       {{"Kestrun.exe", "a launcher of the release\n", 1700000500, false},
        {"data/config.txt", "colour=teal\n", kConfigTime + 1000, true}},
       "",
       1,
       landedLines(1),
       reportCountsLine(4, 1, 0, 1),
       {"  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=" + launcherSize() + " 远端=26)",
        "  [待更新] data/config.txt  mtime不同(本地=" + std::to_string(kConfigTime) +
            " 远端=" + std::to_string(kConfigTime + 1000) + ")"},
       {requestLine(fileRequest + "data/config.txt", 200)},
       true},
      {"DownloadThatKeepsFailingStartsTheOldProgramAgain",
       {{"data/config.txt", "colour=crimson, a longer line\n", kConfigTime + 50, false}},
       "file-status 503 data/config.txt\n",
       1,
       {{"WARN", "下载文件失败，将进行第 1/3 次重试：data/config.txt（HTTP 503）"},
        {"WARN", "下载文件失败，将进行第 2/3 次重试：data/config.txt（HTTP 503）"},
        {"WARN", "下载文件失败，将进行第 3/3 次重试：data/config.txt（HTTP 503）"},
        {"ERROR", "更新下载失败：下载文件失败：data/config.txt（HTTP 503）"}},
       reportCountsLine(3, 1, 0, 0),
       {"  [待更新] data/config.txt  大小不同(本地=12 远端=30)"},
       std::vector<std::string>(4, requestLine(fileRequest + "data/config.txt", 503)),
       false},
  };
}

// Failure messages name the row, not its bytes.
void PrintTo(const ExistingInstallationCase& row, std::ostream* out) { *out << row.name; }

class ExistingInstallation : public WineEndToEnd,
                             public ::testing::WithParamInterface<ExistingInstallationCase> {};

TEST_P(ExistingInstallation, RunningProgramIsStoppedAndStartedAgain) {
  const ExistingInstallationCase& row = GetParam();
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  std::map<std::string, std::string> before;
  for (const ReleaseChange& change : row.changes) {
    const std::string content = change.path == "Vardel.exe"
                                    ? testing_support::readFile(buildSetup().mainProgram) + change.content
                                    : change.content;
    release().addFile(change.path, content, change.mtime);
    before[change.path] = testing_support::readFile(installation.dir() / change.path);
  }
  writeFaults(faultsFile(), row.faults);
  auto server = startServer();
  ASSERT_TRUE(server->running());

  // A quote, an empty argument and a non-ASCII URL travel through two wide command lines.
  const std::vector<std::string> args = {"--profile", "say \"hi\"", "", "vardel://open?item=ü 9"};
  const LauncherOutcome outcome = installation.run(args, wineRun());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(outcome.logWellFormed);
  // Wine ends a process that TerminateProcess stops with the code given, as Windows does.
  EXPECT_TRUE(logMatches(outcome.log, updateRunLines(installation, row.pending, row.afterStop)));

  for (const ReleaseChange& change : row.changes) {
    SCOPED_TRACE(change.path);
    const std::string installed = testing_support::readFile(installation.dir() / change.path);
    if (change.applied) {
      EXPECT_EQ(installed, testing_support::readFile(release().platformDir() / change.path));
      EXPECT_EQ(mtimeOf(installation.dir() / change.path), change.mtime);
    } else {
      EXPECT_EQ(installed, before[change.path]);
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
  // start after the update phase.
  std::vector<std::string> lastArgs = args;
  if (row.restartedWithUpdated) lastArgs.push_back("--updated");
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  ASSERT_LE(starts.size(), 2u);
  if (starts.size() == 2) {
    EXPECT_EQ(starts[0].args, args);
    EXPECT_EQ(starts[0].commandLine, windowsCommandLine(installation.mainProgramText(), args));
  }
  EXPECT_EQ(starts.back().args, lastArgs);
  EXPECT_EQ(starts.back().commandLine, windowsCommandLine(installation.mainProgramText(), lastArgs));
  EXPECT_EQ(starts.back().cwd, installation.dirText());
}

INSTANTIATE_TEST_SUITE_P(Runs, ExistingInstallation, ::testing::ValuesIn(existingInstallationCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace wine_e2e
