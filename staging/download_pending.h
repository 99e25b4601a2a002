#pragma once

#include <functional>
#include <string>

#include "staging/staged_download.h"
#include "update/transfer_failure.h"
#include "update/update_checker.h"

// The staged download: every pending entry fetched into the staging directory. Nothing outside
// that directory is written; the installation is changed only by the apply step afterwards.

// The download of `checker`'s pending list with its settings, its cancel check as installed now.
StagedDownload stagedDownloadOf(UpdateChecker& checker);

// Fetches every pending entry into download.stagingDir. progress(i, total) is called before
// entry i. False with the failure; cancelled when the user cancelled.
bool runStagedDownload(StagedDownload& download, const std::function<void(int, int)>& progress,
                       Failure& failure);

// The run's download, by the name its flow gives it: the pending list of the run's update
// client, with the client's settings. False with the failure's text; kCancelledText when the
// user cancelled.
inline bool downloadPending(UpdateChecker& checker, const std::function<void(int, int)>& progress,
                            std::string& errorText) {
  if (checker.pending.empty()) return true;
  StagedDownload download = stagedDownloadOf(checker);
  Failure failure;
  if (runStagedDownload(download, progress, failure)) return true;
  errorText = failure.text;
  return false;
}
