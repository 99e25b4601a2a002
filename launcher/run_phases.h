#pragma once

#include "launcher/run_context.h"

class UpdateChecker;
struct HealthReport;

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
