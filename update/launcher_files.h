#pragma once

#include <string>
#include <vector>

#include "trust/accepted_serial.h"

// The files the launcher keeps for itself at the top of the installation directory, beside
// its logs (log/launcher_log.h). A manifest entry never replaces them, and none of them is
// ever opened through a link.
inline constexpr const char* kMainProgramFileName = "Vardel.exe";      // the program the launcher starts
inline constexpr const char* kUpdateReportFileName = "update.log";      // the report of the latest check
inline constexpr const char* kInstallationLockFileName = "update.lock";  // one run at a time
inline constexpr const char* kStagingDirectoryName = "update_staging";   // the files of an update, until applied

// The files above that a manifest entry never replaces, with the accepted serial's record and
// the file it is written to first; the logs directory (log/launcher_log.h) is kept as well.
inline std::vector<std::string> launcherOwnFileNames() {
  const std::string serial = kAcceptedSerialFileName;
  return {kUpdateReportFileName, kInstallationLockFileName, kStagingDirectoryName, serial, serial + ".new"};
}
