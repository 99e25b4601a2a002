// Crash recovery with the real Kestrun.exe under Wine: a few rounds of the shared runner
// (tests/faults/crash_rounds.h), each killing Kestrun.exe at a random moment of an update.

#include <fstream>

#include "tests/faults/crash_rounds.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

// The Linux processes whose command line names `program`, by its Linux or its Windows path.
std::vector<std::string> processesRunning(const fs::path& program) {
  const std::string windowsPath = e2e::launcherPathText(program);
  std::vector<std::string> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string commandLine((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (commandLine.find(program.string()) != std::string::npos ||
        commandLine.find(windowsPath) != std::string::npos) {
      found.push_back(entry.path().filename().string());
    }
  }
  return found;
}

// Under Wine the process started here becomes Kestrun.exe: /usr/bin/wine and Wine's loader
// replace one another by exec, so the Windows process runs in this Linux process, under its
// id. SIGKILL to it ends Kestrun.exe at once, as TerminateProcess does on Windows: Wine's
// server sees the process's connection close, ends the Windows process and closes its handles,
// so its files are free again. A Windows process that Wine had started elsewhere would survive
// this, so the kill checks that no process running the installation's Kestrun.exe is left.
void killKestrun(const e2e::Installation& installation, e2e::Installation::Started& started) {
  std::uint32_t errorCode = 0;
  platform::terminateProcess(*started.process, 137, errorCode);
  platform::waitForExit(*started.process, 10000, errorCode);
  EXPECT_EQ(processesRunning(installation.launcher()), std::vector<std::string>{});
}

class WineCrashRecovery : public WineEndToEnd {};

TEST_F(WineCrashRecovery, EveryKilledUpdateConvergesAtTheNextRun) {
  wineNote("Kestrun.exe is ended by SIGKILL to the Linux process that hosts it, which Wine's server "
           "handles like TerminateProcess; the file system is Linux's, so what a kill leaves behind "
           "is not NTFS's");
  const faults::CrashPlan plan{20261207, 5, 400, killKestrun};
  faults::runCrashRounds(plan, {root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

// Kills while a release that fails at start is kept and taken back.
TEST_F(WineCrashRecovery, KilledRollbacksConverge) {
  const faults::CrashPlan plan{20261209, 4, 200, killKestrun, true, true};
  faults::runCrashRounds(plan, {root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

TEST_F(WineCrashRecovery, OverlappingLaunchersTakeTurns) {
  faults::runOverlappingLaunchers({root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

}  // namespace
}  // namespace wine_e2e
