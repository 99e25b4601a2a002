#pragma once

// What a published site looks like from outside: which release `current` names, and whether
// a release is whole (its manifest describes exactly its tree).

#include <filesystem>
#include <string>
#include <vector>

namespace release_tools_test {

namespace fs = std::filesystem;

// The release id `current` points at, or empty when there is no `current`.
std::string currentId(const fs::path& site);

// The finished releases' ids, sorted.
std::vector<std::string> releaseIds(const fs::path& site);

// Every file (bytes, time in nanoseconds) and link (target) below `dir`, for comparing two
// trees; directories are left out, as the manifest leaves them out.
std::vector<std::string> treeContents(const fs::path& dir);

// Empty when the release's manifest of `platform` parses and equals a fresh manifest of its
// tree; otherwise what is wrong.
std::string releaseDefect(const fs::path& release, const std::string& platform);

}  // namespace release_tools_test
