#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// Moves everything the staged download left in stagingDir into installDir: regular files
// first, then symbolic links. Names matching a forbidden pattern are never written; names
// matching a locked pattern are left alone when they exist. Every problem is logged; the
// staging directory is removed at the end. Returns the number of items put in place.
int applyStaging(const std::filesystem::path& stagingDir, const std::filesystem::path& installDir,
                 const std::vector<std::string>& lockedPatterns, const std::vector<std::string>& forbiddenPatterns);

// Moves one staged regular file onto target, retrying a busy target for about five seconds.
bool moveStagedFile(const std::filesystem::path& stagedFile, const std::filesystem::path& target,
                    std::error_code& error);
