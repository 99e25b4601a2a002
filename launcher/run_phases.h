#pragma once

#include "launcher/run_context.h"

class UpdateChecker;
struct HealthReport;
struct StartObservation;

// The directory of the launcher's own executable, or the working directory when that path
// cannot be read.
std::filesystem::path findInstallDir();

// The whole run, from the language choice to the closing log line, with the build's
// settings. Always returns 0.
int runLauncher(int argc, char** argv, const LauncherSettings& settings);

// Asks the update server what differs and, when files are pending, runs the update.
void runServerCheckPhase(RunContext& context);

// Stops the main program, downloads the pending files behind the progress window, applies
// them and starts the main program again. `report` gets the outcome.
void runUpdatePhase(RunContext& context, UpdateChecker& checker, HealthReport& report);

// Before the program is started, in a run that holds the lock: finishes what an interrupted run
// left of a kept update (an apply is undone, a rollback finished) and ends a probation that has
// lasted its days.
void settleKeptUpdate(RunContext& context);

// Watches the start of the early-started program when its release is on probation.
void watchProbationStart(RunContext& context);

// Counts one watched start of the release on probation. After the failed starts its settings
// allow, puts the previous release back and starts its program with the user's arguments
// (context.rolledBackRelease is then set); after enough good starts, ends the probation.
void countProbationStart(RunContext& context, const StartObservation& observation);
