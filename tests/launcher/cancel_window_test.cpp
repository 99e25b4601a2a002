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

  const Installation installation = installationWithStalledDownload();
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

  expectCancelledUpdate(installation, std::move(started), args);
}

}  // namespace
}  // namespace e2e
