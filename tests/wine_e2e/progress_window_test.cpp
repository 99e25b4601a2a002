// Kestrun.exe's progress window under Wine on a virtual X display: it appears while a download
// hangs, Escape cancels the update, and the old program is started again.

#include "tests/launcher/e2e_fixture.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using namespace e2e;

class WineProgressWindow : public WineEndToEnd {};

// An X tool on the session's display; its output lands in `output`. -1 on failure or time-out.
int onDisplay(const std::vector<std::string>& command, const fs::path& output, int timeoutMs) {
  std::vector<std::string> arguments = {"DISPLAY=" + session().display()};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return runToEnd("/usr/bin/env", arguments, output, output.string() + ".err", timeoutMs);
}

TEST_F(WineProgressWindow, EscapeCancelsTheDownloadAndTheOldProgramStartsAgain) {
  for (const char* tool : {"/usr/bin/xdotool", "/usr/bin/import"}) {
    ASSERT_TRUE(fs::exists(tool)) << tool << " is not installed (bash scripts/setup.sh installs it)";
  }
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
  Installation::Started started = installation.start(args, wineRun());
  ASSERT_TRUE(started.process);

  const fs::path found = root() / "xdotool-search.txt";
  const int searched =
      onDisplay({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Fennick Update$"}, found, 60000);
  const std::vector<std::string> windows = readLines(found);
  if (searched != 0 || windows.empty()) {
    const LauncherOutcome outcome = installation.finish(std::move(started), 1000);
    FAIL() << "the progress window \"Fennick Update\" did not appear; launcher standard error: "
           << outcome.standardError;
  }
  // A picture of the screen with the window on it, kept in the build tree for a look by eye.
  const fs::path screenshot = fs::path(KESTRUN_WINE_E2E_OUTPUT_DIR) / "progress-window.png";
  EXPECT_EQ(onDisplay({"import", "-window", "root", screenshot.string()}, root() / "import.txt", 30000), 0)
      << testing_support::readFile(root() / "import.txt.err");

  // Without a window manager nothing gives the window the keyboard: focus it, then press
  // Escape through the X test extension, as a keyboard would.
  wineNote("Xvfb has no window manager: the test gives the window the keyboard focus, which "
           "Windows gives a new foreground window itself");
  const fs::path keyOutput = root() / "xdotool-key.txt";
  EXPECT_EQ(onDisplay({"xdotool", "windowfocus", "--sync", windows.front(), "key", "Escape"},
                      keyOutput, 10000),
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
}  // namespace wine_e2e
