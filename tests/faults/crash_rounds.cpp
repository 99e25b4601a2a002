#include "tests/faults/crash_rounds.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "tests/launcher/e2e_fixture.h"
#include "tests/support/wait.h"

namespace faults {
namespace {

using Clock = std::chrono::steady_clock;

std::string pathOf(int file) {
  return "data/part" + std::to_string(file % 16) + "/file" + std::to_string(file) + ".bin";
}
// Sizes and bytes change with every version, times by 10 s.
std::string contentOf(int file, int version) {
  return generatedBytes(512 + static_cast<std::size_t>(file * 37 + version * 101) % 6000,
                        static_cast<unsigned>(file * 1000 + version));
}
std::int64_t timeOf(int version) { return 1700000000 + version * 10; }

void publishVersion(e2e::Release& release, int files, int version, const CrashPlan& plan = {}) {
  for (int file = 0; file < files; ++file) release.addFile(pathOf(file), contentOf(file, version), timeOf(version));
  if (plan.failingAtStart) {
    release.addFile("vardel-behaviour.txt", version == 0 ? "exit 0\n" : "exit 3\n", timeOf(version));
  }
  if (plan.autoRollback) {
    release.fixManifestWith(R"({"auto_rollback":{"release":"v)" + std::to_string(version) +
                            R"(","window_seconds":1,"probation_starts":1,"failed_starts":1}})");
  }
}

int filesAtVersion(const fs::path& installDir, int files, int version) {
  int count = 0;
  for (int file = 0; file < files; ++file) {
    count += testing_support::readFile(installDir / pathOf(file)) == contentOf(file, version) ? 1 : 0;
  }
  return count;
}

fs::path todaysLog(const fs::path& installDir) { return installDir / "logs" / e2e::todaysLogFileName(); }

// Whether a line after the first `skipped` lines of the log contains `text`. Only one launcher
// runs at a time, so those are the latest run's lines, whatever process id it logs with.
bool hasLogged(const fs::path& installDir, std::size_t skipped, const std::string& text) {
  const std::vector<std::string> lines = e2e::readLines(todaysLog(installDir));
  for (std::size_t i = skipped; i < lines.size(); ++i) {
    if (lines[i].find(text) != std::string::npos) return true;
  }
  return false;
}

void waitForLogged(const fs::path& installDir, std::size_t skipped, const std::string& text,
                   Clock::time_point deadline) {
  while (!hasLogged(installDir, skipped, text) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

const std::string kDownloaded = "更新文件下载完成，开始落地";
const std::string kApplied = "更新落地结束";

}  // namespace

void runCrashRounds(const CrashPlan& plan, const RunContext& context) {
  std::printf("[ crash    ] seed %u, %d rounds, %d files\n", plan.seed, plan.rounds, plan.files);
  std::mt19937 random(plan.seed);
  context.release.addProgram("Vardel.exe", e2e::buildSetup().mainProgram, e2e::kVardelTime);
  publishVersion(context.release, plan.files, 0, plan);
  e2e::Installation installation(context.root / "install");
  installation.mirror(context.release);
  if (!plan.failingAtStart) installation.setMainProgramBehaviour("exit 0");  // else the release's own
  testing_support::writeFile(context.root / "outside" / "sentinel.txt", "must stay\n");
  e2e::writeFaults(context.faultsFile, "");
  auto server = context.startServer();
  ASSERT_TRUE(server->running());
  // What the runs may change outside the installation: the release the test republishes.
  const auto outside = [&] {
    std::vector<std::string> items = outsideSnapshot(context.root, installation.dir());
    std::erase_if(items, [](const std::string& item) { return item.find(" release") != std::string::npos; });
    return items;
  };
  const auto outsideBefore = outside();
  const fs::path dir = installation.dir();

  // One uninterrupted update first, to learn how long the downloads and the apply step take.
  publishVersion(context.release, plan.files, 1, plan);
  const int calibrated = plan.failingAtStart ? 0 : 1;
  const std::size_t calibrationFrom = e2e::readLines(todaysLog(dir)).size();
  const auto began = Clock::now();
  e2e::Installation::Started calibration = installation.start({}, context.options);
  ASSERT_TRUE(calibration.process);
  waitForLogged(dir, calibrationFrom, kDownloaded, began + std::chrono::seconds(120));
  const auto downloaded = Clock::now();
  waitForLogged(dir, calibrationFrom, kApplied, began + std::chrono::seconds(120));
  const auto applied = Clock::now();
  ASSERT_TRUE(installation.finish(std::move(calibration), 120000).finished);
  ASSERT_EQ(filesAtVersion(dir, plan.files, calibrated), plan.files);
  const auto downloadMs = std::chrono::duration_cast<std::chrono::milliseconds>(downloaded - began).count();
  const auto applyMs = std::max<long long>(
      1, std::chrono::duration_cast<std::chrono::milliseconds>(applied - downloaded).count());
  std::printf("[ crash    ] an uninterrupted update: downloads %lld ms, apply step %lld ms\n",
              static_cast<long long>(downloadMs), static_cast<long long>(applyMs));

  int killedBeforeApply = 0;
  int killedDuringApply = 0;
  int killedAfterApply = 0;
  int killedDuringRollback = 0;
  double recoverySeconds = 0;
  std::size_t startsSoFar = installation.mainProgramStarts(0, 0).size();
  for (int round = 2; round < plan.rounds + 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    publishVersion(context.release, plan.files, round, plan);
    const int expected = plan.failingAtStart ? 0 : round;
    // A third of the kills aim at the apply step (and the rollback after it), the rest anywhere
    // in the downloads.
    const bool aimAtApply = random() % 3 == 0;
    const long long applyAndRollbackMs = plan.failingAtStart ? 3 * applyMs : applyMs;
    const auto delay = std::chrono::milliseconds(
        std::uniform_int_distribution<long long>(0, aimAtApply ? applyAndRollbackMs : downloadMs)(random));

    const std::size_t killedFrom = e2e::readLines(todaysLog(dir)).size();
    const auto start = Clock::now();
    e2e::Installation::Started killed = installation.start({"killed", std::to_string(round)}, context.options);
    ASSERT_TRUE(killed.process);
    if (aimAtApply) {
      waitForLogged(dir, killedFrom, kDownloaded, start + std::chrono::seconds(60));
      std::this_thread::sleep_for(delay);
    } else {
      std::this_thread::sleep_until(start + delay);
    }
    plan.kill(installation, killed);
    installation.finish(std::move(killed), 10000);

    const int updated = filesAtVersion(dir, plan.files, round);
    (updated == 0 ? killedBeforeApply : updated < plan.files ? killedDuringApply : killedAfterApply) += 1;
    killedDuringRollback += hasLogged(dir, killedFrom, "开始回滚到之前的版本") && !hasLogged(dir, killedFrom, "回滚完成");

    const std::vector<std::string> args = {"round", std::to_string(round)};
    const auto recoveryBegan = Clock::now();
    const e2e::LauncherOutcome outcome = installation.run(args, context.options);
    recoverySeconds += std::chrono::duration<double>(Clock::now() - recoveryBegan).count();
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
    ASSERT_EQ(filesAtVersion(dir, plan.files, expected), plan.files);
    std::error_code ignored;
    EXPECT_TRUE(!fs::exists(dir / "update_staging") || fs::is_empty(dir / "update_staging", ignored));
    // A program that the killed run started may record its start after the recovering run's,
    // so look for the recovering run's arguments among every start since the last round.
    const auto startedWithArgs = [&args](const e2e::MainProgramStart& start) {
      return start.args.size() >= args.size() && std::equal(args.begin(), args.end(), start.args.begin());
    };
    std::vector<e2e::MainProgramStart> starts = installation.mainProgramStarts(startsSoFar + 1);
    const auto recorded = Clock::now() + std::chrono::seconds(30);
    while (std::none_of(starts.begin() + std::min(startsSoFar, starts.size()), starts.end(), startedWithArgs) &&
           Clock::now() < recorded) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      starts = installation.mainProgramStarts(0, 0);
    }
    EXPECT_TRUE(std::any_of(starts.begin() + std::min(startsSoFar, starts.size()), starts.end(), startedWithArgs))
        << "the recovering run did not start the main program with its arguments";
    startsSoFar = starts.size();
    EXPECT_EQ(outside(), outsideBefore);
  }
  std::printf("[ crash    ] killed before the apply step %d, during it %d, after it %d; a recovering run took %.2f s "
              "on average\n",
              killedBeforeApply, killedDuringApply, killedAfterApply, recoverySeconds / plan.rounds);
  if (plan.failingAtStart) std::printf("[ crash    ] killed during the rollback %d\n", killedDuringRollback);
}

void runOverlappingLaunchers(const RunContext& context) {
  constexpr int kFiles = 24;
  context.release.addProgram("Vardel.exe", e2e::buildSetup().mainProgram, e2e::kVardelTime);
  publishVersion(context.release, kFiles, 0);
  e2e::Installation installation(context.root / "install");
  installation.mirror(context.release);
  installation.setMainProgramBehaviour("exit 0");
  publishVersion(context.release, kFiles, 1);
  // About 80 KiB at 40 KB/s: the first run is still downloading when the second one starts.
  e2e::writeFaults(context.faultsFile, "file-throttle 40000 *\n");
  auto server = context.startServer();
  ASSERT_TRUE(server->running());
  const fs::path dir = installation.dir();
  const std::size_t logFrom = e2e::readLines(todaysLog(dir)).size();

  e2e::Installation::Started first = installation.start({"first"}, context.options);
  ASSERT_TRUE(first.process);
  // The first run holds the lock once it stages files; on a busy machine that can take longer
  // than any fixed pause.
  ASSERT_TRUE(testing_support::waitUntil([&] { return fs::exists(dir / "update_staging"); }, 60000));
  e2e::Installation::Started second = installation.start({"second"}, context.options);
  ASSERT_TRUE(second.process);
  ASSERT_TRUE(installation.finish(std::move(first), 120000).finished);
  ASSERT_TRUE(installation.finish(std::move(second), 120000).finished);

  EXPECT_EQ(filesAtVersion(dir, kFiles, 1), kFiles);
  const std::vector<std::string> lines = e2e::readLines(todaysLog(dir));
  EXPECT_EQ(std::count_if(lines.begin() + static_cast<long>(logFrom), lines.end(),
                          [](const std::string& line) { return line.find("另一个 Kestrun 正在运行") != std::string::npos; }),
            1);
  std::vector<std::string> firstArgs;
  for (const e2e::MainProgramStart& start : installation.mainProgramStarts(3)) {
    if (!start.args.empty()) firstArgs.push_back(start.args.front());
  }
  EXPECT_EQ(std::count(firstArgs.begin(), firstArgs.end(), "second"), 1);

  const e2e::LauncherOutcome third = installation.run({"third"}, context.options);
  ASSERT_TRUE(third.finished);
  EXPECT_TRUE(holdsInOrder(third.log, {{"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"}}));
  EXPECT_EQ(filesAtVersion(dir, kFiles, 1), kFiles);
}

}  // namespace faults
