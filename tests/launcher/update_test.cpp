// Runs that download: an update of one changed file of an existing installation, and a
// first installation of a whole release with subdirectories, links and names that need
// percent-encoding.

#include "tests/launcher/e2e_fixture.h"

namespace e2e {
namespace {

class Update : public LauncherEndToEnd {};

TEST_F(Update, OneChangedFileIsReplacedAndTheProgramRestartedWithUpdatedLast) {
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  // Same size, other bytes and a newer time: only the time tells the difference.
  const std::string newConfig = "colour=teal\n";
  constexpr std::int64_t newConfigTime = kConfigTime + 1000;
  release().addFile("data/config.txt", newConfig, newConfigTime);
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"--profile", "say \"hi\"", ""};
  const LauncherOutcome outcome = installation.run(args);

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(logMatches(outcome.log, updateRunLines(installation, 1, landedLines(1))));

  const fs::path config = installation.dir() / "data/config.txt";
  EXPECT_EQ(testing_support::readFile(config), newConfig);
  EXPECT_EQ(mtimeOf(config), newConfigTime);
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));

  const std::vector<std::string> report = installation.updateReport();
  ASSERT_EQ(report.size(), 3u);
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(3, 1, 0, 0))) << report[0];
  EXPECT_EQ(report[1], reportServerLine());
  EXPECT_EQ(report[2], "  [待更新] data/config.txt  mtime不同(本地=" + std::to_string(kConfigTime) +
                           " 远端=" + std::to_string(newConfigTime) + ")");

  EXPECT_EQ(server->requests(),
            (std::vector<std::string>{
                requestLine("/gis/update/list?platform=windows", 200),
                requestLine("/gis/update/file?platform=windows&path=data/config.txt", 200)}));

  // The early start may be stopped before it has written its record; the restart's record
  // is the last one, with the launcher's own arguments and "--updated" last.
  std::vector<std::string> updatedArgs = args;
  updatedArgs.push_back("--updated");
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  ASSERT_LE(starts.size(), 2u);
  if (starts.size() == 2) {
    EXPECT_EQ(starts[0].args, args);
  }
  EXPECT_EQ(starts.back().args, updatedArgs);
  EXPECT_EQ(starts.back().cwd, installation.dirText());
}

// The launcher's own file and the product's Kestrun.exe both differ in the release: neither
// is asked for nor replaced, and both are reported as locked, while the update of another
// file goes through.
TEST_F(Update, NeitherLauncherFileIsReplacedByAnUpdate) {
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  const std::string installedProductLauncher = "the installed Kestrun.exe\n";
  testing_support::writeFile(installation.dir() / "Kestrun.exe", installedProductLauncher);
  const std::string releasedLauncher = "a launcher of the release\n";
  const std::string releasedProductLauncher = "a Kestrun.exe of the release, longer\n";
  release().addFile(Installation::launcherName(), releasedLauncher, 1700000500);
  release().addFile("Kestrun.exe", releasedProductLauncher, 1700000600);
  const std::string newConfig = "colour=teal\n";
  release().addFile("data/config.txt", newConfig, kConfigTime + 1000);
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const LauncherOutcome outcome = installation.run({});

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(logMatches(outcome.log, updateRunLines(installation, 1, landedLines(1))));

  EXPECT_EQ(testing_support::readFile(installation.launcher()), testing_support::readFile(buildSetup().launcher));
  EXPECT_EQ(testing_support::readFile(installation.dir() / "Kestrun.exe"), installedProductLauncher);
  EXPECT_EQ(testing_support::readFile(installation.dir() / "data/config.txt"), newConfig);

  const std::vector<std::string> report = installation.updateReport();
  ASSERT_EQ(report.size(), 5u);
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(5, 1, 0, 2))) << report[0];
  EXPECT_EQ(std::vector<std::string>(report.begin() + 1, report.end()),
            (std::vector<std::string>{
                reportServerLine(),
                "  [跳过-自更新锁定] Kestrun  大小不同(本地=" + std::to_string(fs::file_size(buildSetup().launcher)) +
                    " 远端=" + std::to_string(releasedLauncher.size()) + ")",
                "  [跳过-自更新锁定] Kestrun.exe  大小不同(本地=" + std::to_string(installedProductLauncher.size()) +
                    " 远端=" + std::to_string(releasedProductLauncher.size()) + ")",
                "  [待更新] data/config.txt  mtime不同(本地=" + std::to_string(kConfigTime) +
                    " 远端=" + std::to_string(kConfigTime + 1000) + ")"}));

  EXPECT_EQ(server->requests(),
            (std::vector<std::string>{
                requestLine("/gis/update/list?platform=windows", 200),
                requestLine("/gis/update/file?platform=windows&path=data/config.txt", 200)}));
}

TEST_F(Update, FirstInstallationFetchesTheWholeReleaseAndStartsTheProgram) {
  publishSampleRelease(release());
  addNestedFiles(release());
  release().addLink("current", "data/levels/level 1.dat");
  release().addLink("bin/latest.dll", "My File+1 ü.dll");
  // The launcher's own file is in the release too; the running one stays.
  release().addFile(Installation::launcherName(), "a launcher of the release\n", 1700000500);
  writeFaults(faultsFile(), "");
  Installation installation(root() / "install");
  installation.setMainProgramBehaviour("stay 60");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"vardel://open?project=42"};
  const LauncherOutcome outcome = installation.run(args);

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_EQ(outcome.standardError, "");
  EXPECT_TRUE(logMatches(outcome.log,
                         concat({startLines(installation, false),
                                 {checkStartLine(),
                                  {"INFO", "更新检查完成：待更新文件=7"},
                                  {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"},
                                  {"INFO", "更新文件下载完成，开始落地"},
                                  {"INFO", "开始更新落地：普通文件=5，软链接=2"},
                                  {"INFO", "更新落地结束：成功=7，失败=0，跳过锁定=0，禁止落地=0"},
                                  {"INFO", "applyStaging 返回：成功落地=7"}},
                                 observeLines(installation), {closingLine()}})));

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
  for (const auto& [path, target] : {std::pair<std::string, std::string>{"current", "data/levels/level 1.dat"},
                                     {"bin/latest.dll", "My File+1 ü.dll"}}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(installation.dir() / path)));
    EXPECT_EQ(fs::read_symlink(installation.dir() / path).string(), target);
  }
  EXPECT_EQ(testing_support::readFile(installation.launcher()),
            testing_support::readFile(buildSetup().launcher));
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));

  // Files are asked for with their path percent-encoded segment by segment; links and the
  // locked launcher are never asked for.
  EXPECT_EQ(server->requests(), firstInstallationRequests());

  const std::vector<std::string> report = installation.updateReport();
  EXPECT_EQ(std::vector<std::string>(report.begin() + std::min<std::size_t>(report.size(), 1), report.end()),
            (std::vector<std::string>{
                reportServerLine(),
                "  [跳过-自更新锁定] Kestrun  大小不同(本地=" +
                    std::to_string(fs::file_size(buildSetup().launcher)) + " 远端=26)",
                "  [待更新] Vardel.exe  本地不存在",
                "  [待更新] bin/My File+1 ü.dll  本地不存在",
                "  [待更新] bin/latest.dll  应为软链接但本地不是（需重建）",
                "  [待更新] current  应为软链接但本地不是（需重建）",
                "  [待更新] data/config.txt  本地不存在",
                "  [待更新] data/levels/level 1.dat  本地不存在",
                "  [待更新] readme.txt  本地不存在"}));
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(isStampedReportLine(report[0], reportCountsLine(8, 7, 0, 1))) << report[0];

  // A first installation starts the program without "--updated".
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].args, args);
  EXPECT_EQ(starts[0].cwd, installation.dirText());
}

}  // namespace
}  // namespace e2e
