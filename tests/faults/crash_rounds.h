#pragma once

// The crash-recovery runner, shared by the Linux launcher's test (crash_recovery_test.cpp) and
// the run of Kestrun.exe under Wine (tests/wine_e2e): the launcher is killed at random moments
// of an update of many small files, during the downloads and during the apply step. After each
// kill one normal run must leave every file equal to the release, the program started,
// update_staging gone or empty, and nothing outside the installation touched. The seed is
// fixed and printed, so a failing round can be run again.

#include <functional>

#include "tests/faults/fault_support.h"

namespace faults {

struct CrashPlan {
  unsigned seed;
  int rounds;
  int files;
  // Ends the started launcher at once, as a crash or a forced end would.
  std::function<void(const e2e::Installation& installation, e2e::Installation::Started& started)> kill;
  // The releases ask for automatic rollback, so the kills also land while replaced files are
  // kept. With failingAtStart every release after the first fails at its first start and is
  // taken back, so the kills land in the rollback as well: each round must end on version 0.
  bool autoRollback = false;
  bool failingAtStart = false;
};

// Runs the rounds and checks each with gtest assertions.
void runCrashRounds(const CrashPlan& plan, const RunContext& context);

// Two launchers started 0.4 s apart on one installation while a throttled server serves an
// update: one waits for the other, every file ends whole at the new version, both start the
// main program with their own arguments, and a third run finds nothing left to fetch.
void runOverlappingLaunchers(const RunContext& context);

}  // namespace faults
