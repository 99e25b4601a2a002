#pragma once

#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "staging/staged_download.h"

// The parts of whole files that a failed download leaves in the staging directory, kept for the
// next run only when it wants the very same file: the same path, size and sha256. The bytes it
// adds are checked with the part against that sha256, so an entry without one is never kept.
// The record of them (names/installation_layout.h) is read once, by the next download, and then
// holds only the parts that download keeps.

// Empties download.stagingDir but for the recorded parts that download.pending still wants, each a
// plain file below real directories; `validators` gets, for each pending entry, the validator
// its kept part was sent with, or an empty text. An error of the removal comes back.
std::error_code clearStagingKeepingParts(const StagedDownload& download, std::vector<std::string>& validators);

// After a failed download: records the part staged for each pending entry with a sha256 and a
// validator (`validators`, one per entry), so that the next run may go on from it.
void recordStagedParts(const StagedDownload& download, const std::vector<std::string>& validators);

// While the download runs: records the entries being fetched, each (index into download.pending)
// with the validator of the answer its part comes from, so that a run that is killed leaves
// its parts to the next one. No file is looked at: the next run checks each part as above.
void recordPartsInFlight(const StagedDownload& download, const std::vector<std::pair<std::size_t, std::string>>& parts);

// After a download that succeeded: no part is left to go on from.
void forgetStagedParts(const StagedDownload& download);
