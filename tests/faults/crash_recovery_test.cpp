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

TEST_F(CrashRecovery, OverlappingLaunchersTakeTurns) {
  runOverlappingLaunchers({root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()});
}

}  // namespace
}  // namespace faults
