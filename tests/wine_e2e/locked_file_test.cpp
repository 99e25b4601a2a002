// Kestrun.exe under Wine replacing files that another process holds open without delete
// sharing: the move is retried for about five seconds, the file is reported, and the other
// files of the update are still applied.

#include <regex>

#include "tests/launcher/e2e_fixture.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using namespace e2e;

class HeldFile : public WineEndToEnd {};

// Milliseconds since the day's start of a log line's time stamp, or -1.
long long stampMilliseconds(const std::string& line) {
  static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} (\d{2}):(\d{2}):(\d{2})\.(\d{3})\])");
  std::smatch match;
  if (!std::regex_search(line, match, stamp)) return -1;
  return ((std::stoll(match[1].str()) * 60 + std::stoll(match[2].str())) * 60 +
          std::stoll(match[3].str())) * 1000 + std::stoll(match[4].str());
}

// The time stamp of the log line of process `pid` whose message begins with `start`.
long long stampOf(const Installation& installation, std::uint32_t pid, const std::string& start) {
  const std::string prefix = "[pid=" + std::to_string(pid) + "] " + start;
  for (const std::string& line : readLines(installation.dir() / "logs" / todaysLogFileName())) {
    if (line.find(prefix) != std::string::npos) return stampMilliseconds(line);
  }
  return -1;
}

TEST_F(HeldFile, IsRetriedForAboutFiveSecondsReportedAndTheOtherFilesApplied) {
  wineNote("sharing modes are kept by the Wine server among Windows processes only (the "
           "holder is a Windows program of the same prefix), and Wine's text for error 32 is "
           "its own");
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  const std::string newConfig = "colour=teal\n";
  const std::string newReadme = "Fennick sample release, second edition\n";
  release().addFile("data/config.txt", newConfig, kConfigTime + 1000);
  release().addFile("readme.txt", newReadme, kReadmeTime + 1000);
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const fs::path held = root() / "holder.held";
  const fs::path release = root() / "holder.release";
  platform::ProcessHandle holder = session().start(
      {"wine", KESTRUN_WINE_LOCK_HOLDER, launcherPathText(installation.dir() / "data/config.txt"),
       launcherPathText(held), launcherPathText(release)},
      root() / "holder.out");
  ASSERT_TRUE(holder);
  // Ends the holder on every way out of the test.
  struct Release {
    fs::path file;
    platform::ProcessHandle& process;
    ~Release() {
      testing_support::writeFile(file, "");
      std::uint32_t errorCode = 0;
      if (platform::waitForExit(*process, 30000, errorCode) != platform::WaitResult::Exited) {
        platform::terminateProcess(*process, 0, errorCode);
      }
    }
  } releaseHolder{release, holder};
  for (int waited = 0; !fs::exists(held) && waited < 600; ++waited) {
    std::uint32_t errorCode = 0;
    ASSERT_EQ(platform::waitForExit(*holder, 50, errorCode), platform::WaitResult::TimedOut)
        << "the lock holder ended: " << testing_support::readFile(root() / "holder.out.err");
  }
  ASSERT_TRUE(fs::exists(held)) << "the lock holder did not open the file";

  const LauncherOutcome outcome = installation.run({}, runOptions());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_EQ(outcome.standardError, "");
  // The staged file's path below the staging directory, as Windows joins it.
  const std::string failure = "更新文件落地失败：data\\config.txt；原因：";
  EXPECT_TRUE(logMatches(
      outcome.log,
      updateRunLines(installation, 2,
                     {{"INFO", "更新文件下载完成，开始落地"},
                      {"INFO", "开始更新落地：普通文件=2，软链接=0"},
                      // The sharing violation (32), from the last copy attempt.
                      {"ERROR", failure + "code=32，category=system，message={*}"},
                      {"INFO", "更新落地结束：成功=1，失败=1，跳过锁定=0，禁止落地=0"},
                      {"INFO", "applyStaging 返回：成功落地=1"}})));

  // 50 attempts with 100 ms pauses between the start of the apply and the report.
  const long long applyStart = stampOf(installation, outcome.pid, "开始更新落地");
  const long long reported = stampOf(installation, outcome.pid, failure);
  ASSERT_GE(applyStart, 0);
  ASSERT_GE(reported, 0);
  const long long retried = (reported - applyStart + 86400000) % 86400000;
  EXPECT_GE(retried, 4900);
  EXPECT_LE(retried, 15000);

  EXPECT_EQ(testing_support::readFile(installation.dir() / "data/config.txt"), "colour=blue\n");
  EXPECT_EQ(mtimeOf(installation.dir() / "data/config.txt"), kConfigTime);
  EXPECT_EQ(testing_support::readFile(installation.dir() / "readme.txt"), newReadme);
  EXPECT_EQ(mtimeOf(installation.dir() / "readme.txt"), kReadmeTime + 1000);
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));

  // The update went through for the rest: the program is started as updated.
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts.back().args, std::vector<std::string>{"--updated"});
}

}  // namespace
}  // namespace wine_e2e
