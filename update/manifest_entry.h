#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A compressed copy or a patch of a manifest file (a zstd frame): its size and the SHA-256
// of its bytes, which names it on the server. A patch applies to the installed file whose
// SHA-256 is fromSha256.
struct EntryObject {
  std::int64_t size = 0;
  std::string sha256;
  std::string fromSha256;  // patches only
};

// One file of the server's manifest, and one item of the pending list.
struct ManifestEntry {
  std::string path;       // relative to the installation directory, '/' separators (UTF-8)
  std::int64_t size = 0;  // bytes on the server
  std::int64_t mtime = 0; // seconds since 1970-01-01 UTC; below 1 means "no time given"
  std::string link;       // symbolic-link target, '/' separators; empty for a regular file
  std::string sha256 = {};  // the file's SHA-256 in lower-case hex; empty when the manifest gives none
  // What the server offers instead of the whole file; used only for an entry with a sha256,
  // against which the decoded file is checked.
  std::vector<EntryObject> zst = {};      // at most one: the compressed copy
  std::vector<EntryObject> patches = {};  // from the files of earlier releases
};
