#pragma once

#include <filesystem>
#include <system_error>

// The text rules for manifest paths; this header adds the look at the disk.
#include "update/manifest_paths.h"

// Looks at the directories between `root` and `root / relative` (both ends excluded), from
// the top down, without following links. `linkedParent` receives the first of them that is
// a symbolic link, relative to root, or stays empty. Directories that do not exist yet end
// the walk: they will be created as real directories. An error comes back when a status
// cannot be read.
std::error_code findLinkedParent(const std::filesystem::path& root, const std::filesystem::path& relative,
                                 std::filesystem::path& linkedParent);
