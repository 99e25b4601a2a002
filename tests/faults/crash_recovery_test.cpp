// Crash recovery: the launcher is killed (SIGKILL) at random moments of a 400-file update,
// during the downloads and during the apply step. After each kill one normal run must leave
// every file equal to the release, the program started, update_staging gone or empty, and
// nothing outside the installation touched. The seed is fixed and printed, so a failing
// round can be run again.

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "tests/faults/fault_support.h"
#include "tests/launcher/e2e_fixture.h"

namespace e2e {
namespace {

constexpr unsigned kSeed = 20261207;
constexpr int kRounds = 50;
constexpr int kFiles = 400;

using Clock = std::chrono::steady_clock;

std::string pathOf(int file) {
  return "data/part" + std::to_string(file % 16) + "/file" + std::to_string(file) + ".bin";
}
// Sizes and bytes change with every version, times by 10 s.
std::string contentOf(int file, int version) {
  return faults::generatedBytes(512 + static_cast<std::size_t>(file * 37 + version * 101) % 6000,
                                static_cast<unsigned>(file * 1000 + version));
}
std::int64_t timeOf(int version) { return 1700000000 + version * 10; }

void publishVersion(Release& release, int version) {
  for (int file = 0; file < kFiles; ++file) release.addFile(pathOf(file), contentOf(file, version), timeOf(version));
}

int filesAtVersion(const fs::path& installDir, int version) {
  int count = 0;
  for (int file = 0; file < kFiles; ++file) {
    count += testing_support::readFile(installDir / pathOf(file)) == contentOf(file, version) ? 1 : 0;
  }
  return count;
}

// Whether the run with process id `pid` has logged a line containing `text` yet.
bool hasLogged(const fs::path& installDir, std::uint32_t pid, const std::string& text) {
  const std::string mark = "[pid=" + std::to_string(pid) + "] ";
  for (const std::string& line : readLines(installDir / "logs" / todaysLogFileName())) {
    if (line.find(mark) != std::string::npos && line.find(text) != std::string::npos) return true;
  }
  return false;
}

void waitForLogged(const fs::path& installDir, std::uint32_t pid, const std::string& text, Clock::time_point deadline) {
  while (!hasLogged(installDir, pid, text) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

const std::string kDownloaded = "更新文件下载完成，开始落地";
const std::string kApplied = "更新落地结束";

class CrashRecovery : public LauncherEndToEnd {
 protected:
  // What the runs may change outside the installation: the release the test republishes.
  std::vector<std::string> outside(const Installation& installation) const {
    std::vector<std::string> items = faults::outsideSnapshot(root(), installation.dir());
    std::erase_if(items, [](const std::string& item) { return item.find(" release") != std::string::npos; });
    return items;
  }
};

TEST_F(CrashRecovery, EveryKilledUpdateConvergesAtTheNextRun) {
  std::printf("[ crash    ] seed %u, %d rounds, %d files\n", kSeed, kRounds, kFiles);
  std::mt19937 random(kSeed);
  release().addProgram("Vardel.exe", buildSetup().mainProgram, kVardelTime);
  publishVersion(release(), 0);
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("exit 0");
  testing_support::writeFile(root() / "outside" / "sentinel.txt", "must stay\n");
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());
  const auto outsideBefore = outside(installation);

  // One uninterrupted update first, to learn how long the downloads and the apply step take.
  publishVersion(release(), 1);
  const auto began = Clock::now();
  Installation::Started calibration = installation.start({}, {});
  ASSERT_TRUE(calibration.process);
  const std::uint32_t calibrationPid = platform::processId(*calibration.process);
  waitForLogged(installation.dir(), calibrationPid, kDownloaded, began + std::chrono::seconds(120));
  const auto downloaded = Clock::now();
  waitForLogged(installation.dir(), calibrationPid, kApplied, began + std::chrono::seconds(120));
  const auto applied = Clock::now();
  ASSERT_TRUE(installation.finish(std::move(calibration), 120000).finished);
  ASSERT_EQ(filesAtVersion(installation.dir(), 1), kFiles);
  const auto downloadMs = std::chrono::duration_cast<std::chrono::milliseconds>(downloaded - began).count();
  const auto applyMs = std::max<long long>(
      1, std::chrono::duration_cast<std::chrono::milliseconds>(applied - downloaded).count());
  std::printf("[ crash    ] an uninterrupted update: downloads %lld ms, apply step %lld ms\n",
              static_cast<long long>(downloadMs), static_cast<long long>(applyMs));

  int killedBeforeApply = 0;
  int killedDuringApply = 0;
  int killedAfterApply = 0;
  double recoverySeconds = 0;
  std::size_t startsSoFar = installation.mainProgramStarts(0, 0).size();
  for (int round = 2; round < kRounds + 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    publishVersion(release(), round);
    // A third of the kills aim at the apply step, the rest anywhere in the downloads.
    const bool aimAtApply = random() % 3 == 0;
    const auto delay = std::chrono::milliseconds(
        std::uniform_int_distribution<long long>(0, aimAtApply ? applyMs : downloadMs)(random));

    const auto start = Clock::now();
    Installation::Started killed = installation.start({"killed", std::to_string(round)}, {});
    ASSERT_TRUE(killed.process);
    if (aimAtApply) {
      waitForLogged(installation.dir(), platform::processId(*killed.process), kDownloaded,
                    start + std::chrono::seconds(60));
      std::this_thread::sleep_for(delay);
    } else {
      std::this_thread::sleep_until(start + delay);
    }
    std::uint32_t errorCode = 0;
    platform::terminateProcess(*killed.process, 137, errorCode);
    installation.finish(std::move(killed), 10000);

    const int updated = filesAtVersion(installation.dir(), round);
    (updated == 0 ? killedBeforeApply : updated < kFiles ? killedDuringApply : killedAfterApply) += 1;

    const std::vector<std::string> args = {"round", std::to_string(round)};
    const auto recoveryBegan = Clock::now();
    const LauncherOutcome outcome = installation.run(args);
    recoverySeconds += std::chrono::duration<double>(Clock::now() - recoveryBegan).count();
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
    ASSERT_EQ(filesAtVersion(installation.dir(), round), kFiles);
    std::error_code ignored;
    EXPECT_TRUE(!fs::exists(installation.dir() / "update_staging") ||
                fs::is_empty(installation.dir() / "update_staging", ignored));
    const std::vector<MainProgramStart> starts = installation.mainProgramStarts(startsSoFar + 1);
    ASSERT_GT(starts.size(), startsSoFar);
    startsSoFar = starts.size();
    ASSERT_GE(starts.back().args.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(starts.back().args.begin(), starts.back().args.begin() + 2), args);
    EXPECT_EQ(outside(installation), outsideBefore);
  }
  std::printf("[ crash    ] killed before the apply step %d, during it %d, after it %d; a recovering run took %.2f s "
              "on average\n",
              killedBeforeApply, killedDuringApply, killedAfterApply, recoverySeconds / kRounds);
}

}  // namespace
}  // namespace e2e
