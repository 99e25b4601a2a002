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
  const Installation installation = installationWithStalledDownload();
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const std::vector<std::string> args = {"--open", "plan 7"};
  Installation::Started started = installation.start(args, runOptions());
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

  expectCancelledUpdate(installation, std::move(started), args);
}

}  // namespace
}  // namespace wine_e2e
