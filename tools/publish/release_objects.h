#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/release_manifest/release_manifest.h"

// The objects of a release: beside <platform>/, the folder <platform>.objects/ holds zstd
// frames named by the SHA-256 of their own bytes ("<sha256>.zst"), so a name never changes
// what it stands for and may be cached for ever:
//   - a compressed copy of a file, when it saves enough to be worth a request (at least
//     kMinObjectSaving bytes and a tenth of the file);
//   - for a file that changed against one of the last kept releases, a patch that rebuilds
//     it from that release's file (zstd with the old file as prefix), keyed in the manifest
//     by the old file's SHA-256, when it saves as much again against the compressed copy
//     (or the whole file).
// Files of any size get them; those above 32 MiB are compressed at a faster level, their
// patches with long-distance matching over a window that spans both files. An object already
// made for a kept release is hashed and hard-linked, not made again (one whose bytes no longer
// hash to its name is made again). The folder is written into the partial release, so it is
// switched with everything else and pruned with its release.
namespace publish {

namespace fs = std::filesystem;

inline constexpr std::uint64_t kMinObjectSaving = 512;

struct ObjectCounts {
  int compressed = 0;  // compressed copies listed in the manifest
  int patches = 0;     // patches listed in the manifest
  int made = 0;        // of these, objects compressed in this run (the others were reused)
  std::vector<std::string> damaged;  // objects of kept releases that failed their hash, made again
};

// The folder of a release's objects for one platform.
fs::path objectsDir(const fs::path& release, const std::string& platform);

// The SHA-256 of a file, read in pieces.
bool hashFile(const fs::path& file, std::string& digest, std::string& error);

// Writes the objects of the regular files among `entries` (hashed already) of the tree
// `release`/<platform> into objectsDir(release, platform) and lists them in the entries.
// `bases` are the releases to patch from, newest first, and `basePlatform` the platform of
// theirs that the patches start from (a candidate's patches start from the current release).
bool writeReleaseObjects(const fs::path& release, const std::string& platform, const std::vector<fs::path>& bases,
                         const std::string& basePlatform, std::vector<release_manifest::ReleaseEntry>& entries,
                         ObjectCounts& counts, std::string& error);

}  // namespace publish
