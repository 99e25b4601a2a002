#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/release_manifest/release_manifest.h"

// Puts files into a release being written. Files are hard-linked when allowed (same file
// system, permission to link) and copied otherwise; either way they keep their modification
// time to the nanosecond, because the launcher compares times. Links are recreated with
// their stored target. A file is reached from the tree's root one directory at a time
// without following links and must still be a regular file when opened; otherwise its entry
// is refused ("refused: PATH: ...") and nothing of it is written.
namespace publish {

namespace fs = std::filesystem;

struct CopyCounts {
  int hardLinked = 0;
  int copied = 0;
  int links = 0;
};

// Clones the listed entries of `from` into `to` (created as needed).
bool cloneEntries(const fs::path& from, const fs::path& to,
                  const std::vector<release_manifest::ReleaseEntry>& entries, bool preferHardLinks,
                  CopyCounts& counts, std::string& error);

// Clones every item of the release `from` that does not belong to `platform` into `to`, so a
// publish of one platform keeps the others as they were. An empty `platform` clones every item.
bool carryOverOtherPlatforms(const fs::path& from, const fs::path& to, const std::string& platform,
                             std::string& error);

}  // namespace publish
