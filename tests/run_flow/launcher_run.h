#pragma once

// Runs a launcher test program as a user would start it and collects what it tells the user:
// its standard error and its warning boxes, in the order in which they appeared.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_system.h"

namespace run_flow {

// The launcher's file name in an installation.
inline const char* const kLauncherName = testing_support::kWindowsBuild ? "Kestrun.exe" : "Kestrun";

// One variable for the launcher's environment.
struct Setting {
  std::string name;
  std::string value;
};

struct LauncherRun {
  std::string failure;  // why the run could not be made or did not end; empty when it ended
  std::uint32_t exitCode = 0;
  // Standard error, with each warning box as the line "caption: text" where it appeared.
  std::string transcript;
};

// Runs `launcher` with `arguments` in `workingDirectory` to its end (at most a minute), with
// `settings` added to its environment and its home in `home`. Linux: without DISPLAY, so every
// warning box is a line on standard error. Windows: each box is read off the screen and its
// OK button pressed. Standard error is kept in "stderr.txt" in the working directory.
LauncherRun runLauncher(const std::filesystem::path& launcher, const std::vector<std::string>& arguments,
                        const std::filesystem::path& workingDirectory, const std::filesystem::path& home,
                        const std::vector<Setting>& settings);

// Why the launcher's warning boxes cannot be seen here, or "" when they can: Wine without an
// X display shows no message box at all.
std::string warningBoxGap();

}  // namespace run_flow
