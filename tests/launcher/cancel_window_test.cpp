// The progress window on a real (virtual) X display: Escape while a download hangs cancels
// the update, and the old program is started again.

#include "tests/launcher/e2e_fixture.h"

namespace e2e {
namespace {

class ProgressWindow : public LauncherEndToEnd {};

// xdotool on the given display; its output lands in `output`. -1 on failure or time-out.
int xdotool(const std::string& display, const std::vector<std::string>& arguments,
            const fs::path& output, int timeoutMs) {
  std::vector<std::string> command = {"DISPLAY=" + display, "xdotool"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runToEnd("/usr/bin/env", command, output, output.string() + ".err", timeoutMs);
}

TEST_F(ProgressWindow, EscapeCancelsTheDownloadAndTheOldProgramStartsAgain) {
  if (!fs::exists("/usr/bin/xdotool")) GTEST_SKIP() << "xdotool is not installed";
  VirtualDisplay display;
  if (!display.running()) GTEST_SKIP() << "no virtual X display (Xvfb) could be started";

  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  release().addFile("data/config.txt", "colour=orange\n", kConfigTime + 77);
  // The file hangs long enough for the window to be found and closed.
  writeFaults(faultsFile(), "file-stall 60 data/config.txt\n");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"--open", "plan 7"};
  RunOptions options;
  options.display = display.name();
  Installation::Started started = installation.start(args, options);
  ASSERT_TRUE(started.process);

  const fs::path found = root() / "xdotool-search.txt";
  const int searched = xdotool(
      display.name(), {"search", "--sync", "--onlyvisible", "--name", "^Fennick Update$"}, found,
      30000);
  const std::vector<std::string> windows = readLines(found);
  if (searched != 0 || windows.empty()) {
    const LauncherOutcome outcome = installation.finish(std::move(started), 1000);
    FAIL() << "the progress window \"Fennick Update\" did not appear; launcher standard error: "
           << outcome.standardError;
  }
  // The press alone: the window is gone by the time a release could be delivered to it.
  const fs::path keyOutput = root() / "xdotool-key.txt";
  EXPECT_EQ(xdotool(display.name(), {"keydown", "--window", windows.front(), "Escape"}, keyOutput,
                    10000),
            0)
      << testing_support::readFile(keyOutput.string() + ".err");

  // Well before the stalled file would arrive.
  const LauncherOutcome outcome = installation.finish(std::move(started), 40000);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_TRUE(logMatches(outcome.log,
                         concat({startLines(installation, true), earlyStartLines(installation),
                                 {checkStartLine(),
                                  {"INFO", "更新检查完成：待更新文件=1"},
                                  {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"}},
                                 stopLines(), {{"WARN", "用户取消更新下载"}},
                                 observeLines(installation), {closingLine()}})));

  const fs::path config = installation.dir() / "data/config.txt";
  EXPECT_EQ(testing_support::readFile(config), "colour=blue\n");
  EXPECT_EQ(mtimeOf(config), kConfigTime);

  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts.back().args, args);
}

}  // namespace
}  // namespace e2e
