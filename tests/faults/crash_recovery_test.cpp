// Crash recovery with the Linux launcher: 50 rounds of a 400-file update, each killed with
// SIGKILL (see crash_rounds.h for what every round must leave).

#include "tests/faults/crash_rounds.h"
#include "tests/launcher/e2e_fixture.h"

namespace faults {
namespace {

class CrashRecovery : public e2e::LauncherEndToEnd {};

TEST_F(CrashRecovery, EveryKilledUpdateConvergesAtTheNextRun) {
  const CrashPlan plan{20261207, 50, 400, [](const e2e::Installation&, e2e::Installation::Started& started) {
                         std::uint32_t errorCode = 0;
                         platform::terminateProcess(*started.process, 137, errorCode);
                       }};
  runCrashRounds(plan, {root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

// The same kills while the update keeps what it replaces, and while a release that fails at
// start is taken back: each round ends whole on the new release, or whole on version 0.
TEST_F(CrashRecovery, KilledKeepingAndRollbacksConverge) {
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "taken back" : "kept");
    const testing_support::TempDir round;
    e2e::Release release(round.path() / "release");
    CrashPlan plan{20261209, 15, 400, [](const e2e::Installation&, e2e::Installation::Started& started) {
                     std::uint32_t errorCode = 0;
                     platform::terminateProcess(*started.process, 137, errorCode);
                   }, true, failing};
    runCrashRounds(plan, {round.path(), release, round.path() / "faults.txt", [&] {
                            return std::make_unique<e2e::ReleaseServer>(release.root(), round.path() / "faults.txt",
                                                                        round.path() / "server-1.out");
                          }, runOptions()});
  }
}

TEST_F(CrashRecovery, OverlappingLaunchersTakeTurns) {
  runOverlappingLaunchers({root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

}  // namespace
}  // namespace faults
