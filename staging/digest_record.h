#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "update/manifest_entry_list.h"

// After a successful apply: records the sha256 of every regular entry whose installed file now
// has the entry's size and time (a file the apply could not replace still has its old ones),
// keeps the items of other files that still hold, and drops the rest. False with errorText
// when the record cannot be written.
bool recordInstalledDigests(const std::filesystem::path& installDir, const ManifestEntryList& applied,
                            std::string& errorText);
