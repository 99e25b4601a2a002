#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// How a release tree becomes the manifest the launcher reads. The release server builds it
// at every request and kestrun-publish writes it beside each release, from the same rules:
//   - paths relative to the tree, "/"-separated, sorted bytewise;
//   - a regular file gives its size and its modification time in whole seconds since
//     1970-01-01 UTC;
//   - a symbolic link gives its stored target; it is never followed, not even to a
//     directory, and carries no size or time (the launcher reads the absent keys as 0);
//   - directories get no entry of their own.
namespace release_manifest {

namespace fs = std::filesystem;

// A compressed copy or a patch of a file, as a publish stores it beside the release: its
// size and the SHA-256 of its bytes (which also names it). A patch turns the file whose
// SHA-256 is fromSha256 into this entry's file.
struct ReleaseObject {
  std::uint64_t size = 0;
  std::string sha256;
  std::string fromSha256;  // patches only
};

struct ReleaseEntry {
  std::string path;           // "bin/a.dll"
  std::uint64_t size = 0;     // regular files only
  std::int64_t mtime = 0;     // regular files only
  std::string link;           // the stored target; non-empty marks a link
  std::string sha256;         // regular files of a signed release: the digest in lower-case hex
  std::vector<ReleaseObject> zst;      // at most one: the compressed copy
  std::vector<ReleaseObject> patches;  // from files of earlier releases
  bool isLink() const { return !link.empty(); }
};

struct ReleaseListing {
  std::vector<ReleaseEntry> entries;       // sorted by path
  std::vector<std::string> specialFiles;   // sockets, pipes, devices: never part of a release
};

// Lists the tree as it is now. False with an error text when the walk fails.
bool listReleaseTree(const fs::path& tree, ReleaseListing& listing, std::string& error);

// The manifest text of a listing: one JSON array, no white space, e.g.
//   [{"path":"a.dll","size":3,"mtime":1700000000},{"path":"cur","link":"a.dll"}]
// An entry with objects lists them after its sha256:
//   "zst":{"size":N,"sha256":H}, "patches":[{"from_sha256":H0,"size":N,"sha256":H}]
// A name that is not UTF-8 is written with replacement characters.
std::string manifestJson(const std::vector<ReleaseEntry>& entries);

// listReleaseTree followed by manifestJson.
bool buildManifest(const fs::path& tree, std::string& json, std::string& error);

// Whole seconds since 1970-01-01 UTC, truncated toward zero as the launcher does.
std::int64_t mtimeSeconds(fs::file_time_type time);

}  // namespace release_manifest
