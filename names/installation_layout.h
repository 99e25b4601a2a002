#pragma once

#include <string>
#include <string_view>
#include <vector>

// The installation's layout: every file and folder the launcher keeps for itself in the
// installation directory, the names an update never replaces, and the test whether a manifest
// path names one of them. Every rule that protects these names (never opened through a link,
// never taken from a manifest, no element of the form of their Windows short names, the
// release tools' refusals) reads them from here, so a new one is protected everywhere at once.

// The program the launcher starts.
inline constexpr const char* kMainProgramFileName = "Vardel.exe";
// The launcher's own executable: "Kestrun.exe" on Windows, "Kestrun" on Linux.
extern const char* const kLauncherFileName;

// The files the launcher keeps at the top of the installation directory.
inline constexpr const char* kUpdateReportFileName = "update.log";      // the report of the latest check
inline constexpr const char* kInstallationLockFileName = "update.lock";  // one run at a time
// Locked by the run that has stopped the program for an update, until it starts it again.
inline constexpr const char* kProgramRestartLockFileName = "update.restart.lock";
inline constexpr const char* kStagingDirectoryName = "update_staging";   // the files of an update, until applied
inline constexpr const char* kAcceptedSerialFileName = "update_serial.txt";  // highest signed serial accepted
inline constexpr const char* kInstallationIdFileName = "update_id.txt";    // the random identifier of rollouts
inline constexpr const char* kDigestRecordFileName = "update_digests.txt";  // sha256 of installed files
// Every manifest path an update or the installer put in place, for the uninstaller.
inline constexpr const char* kInstalledPathsRecordFileName = "update_installed.txt";
inline constexpr const char* kResumeRecordFileName = "update_resume.txt";   // parts a next run may go on from
// What an update that may be taken back keeps: the files it replaced, its journal and the
// probation of the release it installed.
inline constexpr const char* kRollbackDirectoryName = "update_rollback";
inline constexpr const char* kRefusedReleasesFileName = "update_refused.txt";  // releases taken back here
// The name a record is written to before it is renamed over the record.
inline constexpr const char* kFreshRecordSuffix = ".new";

// The daily logs: kLogDirectoryName/kestrun-YYYYMMDD.log.
inline constexpr const char* kLogDirectoryName = "logs";
inline constexpr const char* kDailyLogPrefix = "kestrun-";
inline constexpr const char* kDailyLogExtension = ".log";

// The files above that a manifest entry never replaces: the report, the locks, the staging and
// rollback directories and each record with the file it is written to first.
std::vector<std::string> launcherOwnFileNames();

// Every name the launcher keeps at the top of the installation: the files above and the logs
// directory.
std::vector<std::string> launcherOwnTopNames();

// The names an update never replaces once they exist, in the order they are tried: the
// launcher and the Microsoft runtime libraries it and the program run on.
std::vector<std::string> lockedProductPatterns();

// The same list with the launcher's own file name in front where it differs from "Kestrun.exe"
// (Linux: "Kestrun"). A running executable cannot safely overwrite itself, and the runtime it
// runs on must not change under it. The check and the apply step each get their own copy.
std::vector<std::string> lockedFilePatterns();

// Whether the path names one of the files the launcher keeps for itself at the top of the
// installation (its report, locks, records, staging directory and daily logs), which a
// manifest entry must never replace. Compared as Windows would name them.
bool isLauncherOwnPath(std::string_view path);

// The same for the entries of one check, which mostly share their top element: what the last
// top element is, is kept.
class LauncherOwnPathTest {
 public:
  bool operator()(std::string_view path);

 private:
  enum class TopKind { Own, Logs, Other };
  std::string lastTop_;
  bool hasTop_ = false;
  TopKind lastTopKind_ = TopKind::Other;
};
