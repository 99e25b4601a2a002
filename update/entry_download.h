#pragma once

#include <filesystem>
#include <string>

#include "update/update_checker.h"

// One attempt at fetching the regular entry `entry` from `url` into `destination`. With a
// sha256 in the entry, the bytes are hashed as they are written, so the file is never read a
// second time. A different digest fails the attempt, names both digests in errorText and
// removes the file, so that it can never be applied. Retrying is the caller's business.
bool downloadEntryFile(UpdateChecker& checker, const std::string& url, const std::filesystem::path& destination,
                       const ManifestEntry& entry, std::string& errorText);
