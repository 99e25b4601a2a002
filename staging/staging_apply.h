#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "staging/rollback_journal.h"
#include "update/manifest_entry_list.h"

// Moves the staged items of `verified` (the entries this run downloaded and checked) from
// stagingDir into installDir: regular files first, then symbolic links; anything else in
// stagingDir is left alone and removed with it. Names matching a forbidden pattern are never
// written; names matching a locked pattern are left alone when they exist. Nothing is
// written through a directory of the installation that is a symbolic link. A replaced file
// keeps its executable bit, and Vardel.exe at the top always gets one (where the system has
// them). With a journal, whatever stands where an item goes is moved aside into it first, and
// an item whose old one cannot be kept is not put in place. Every problem is logged; the staging
// directory is removed at the end. Returns the number of items put in place, 0 on an unexpected
// error. Never throws.
int applyStaging(const std::filesystem::path& stagingDir, const std::filesystem::path& installDir,
                 const ManifestEntryList& verified, const std::vector<std::string>& lockedPatterns,
                 const std::vector<std::string>& forbiddenPatterns, RollbackJournal* journal = nullptr);

// Moves one staged regular file onto target, retrying a busy target for about five seconds
// (50 attempts, 100 ms apart). False with the last error when every attempt failed. Throws
// std::filesystem::filesystem_error ("exists", target) when the target's status cannot be
// read; applyStaging catches it.
bool moveStagedFile(const std::filesystem::path& stagedFile, const std::filesystem::path& target,
                    std::error_code& error);
