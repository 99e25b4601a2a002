#pragma once

#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "trust/accepted_serial.h"
#include "update/record_file.h"

// The files the launcher keeps for itself at the top of the installation directory, beside
// its logs (log/launcher_log.h). A manifest entry never replaces them, and none of them is
// ever opened through a link.
inline constexpr const char* kMainProgramFileName = "Vardel.exe";      // the program the launcher starts
inline constexpr const char* kUpdateReportFileName = "update.log";      // the report of the latest check
inline constexpr const char* kInstallationLockFileName = "update.lock";  // one run at a time
// Locked by the run that has stopped the program for an update, until it starts it again.
inline constexpr const char* kProgramRestartLockFileName = "update.restart.lock";
inline constexpr const char* kStagingDirectoryName = "update_staging";   // the files of an update, until applied
inline constexpr const char* kInstallationIdFileName = "update_id.txt";    // the random identifier of rollouts
inline constexpr const char* kDigestRecordFileName = "update_digests.txt";  // sha256 of installed files (installed_digests.h)
inline constexpr const char* kResumeRecordFileName = "update_resume.txt";   // parts a next run may go on from

// The files above that a manifest entry never replaces, with the accepted serial's record, the
// identifier and the files the records are written to first; the logs directory
// (log/launcher_log.h) is kept as well.
inline std::vector<std::string> launcherOwnFileNames() {
  const std::string serial = kAcceptedSerialFileName;
  const std::string id = kInstallationIdFileName;
  const std::string digests = kDigestRecordFileName;
  const std::string resume = kResumeRecordFileName;
  return {kUpdateReportFileName, kInstallationLockFileName, kProgramRestartLockFileName, kStagingDirectoryName,
          serial, serial + kFreshRecordSuffix, id, id + kFreshRecordSuffix, digests, digests + kFreshRecordSuffix,
          resume, resume + kFreshRecordSuffix};
}

// Every name the launcher keeps at the top of the installation: the files above and the logs
// directory.
inline std::vector<std::string> launcherOwnTopNames() {
  std::vector<std::string> names = launcherOwnFileNames();
  names.emplace_back(kLogDirectoryName);
  return names;
}

// The names an update never replaces once they exist, in the order they are tried: the
// launcher and the Microsoft runtime libraries it and the program run on.
inline std::vector<std::string> lockedProductPatterns() {
  return {"Kestrun.exe", "vcruntime140*", "msvcp140*", "concrt140*", "ucrtbase*", "api-ms-win-*"};
}
