#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "update/update_checker.h"

// Keeping every write of an update inside the directory it belongs to. A manifest comes
// from the network: a path that climbs out, names a root, or runs through a symbolic link
// would otherwise let it write anywhere the user may write.

// Whether a manifest path stays below the directory it is joined to, on Windows and
// elsewhere alike. Refused: an empty path or one ending in '/'; a leading '/' (root,
// server share); a '\' (the check turns every '\' into '/', so one left over would be read
// as a separator on Windows only); a ':' (drive or stream on Windows); a NUL; an element
// made only of dots and blanks ("." and ".." included, which Windows would also shorten);
// and the reserved device names of Windows (CON, NUL, COM1...). Empty elements ("a//b")
// are allowed.
bool isConfinedManifestPath(const std::string& path);

// Checks the whole list before anything is written: every path (of files and of links) must
// be confined, and no entry may lie below another entry that is a link (compared without
// ASCII case and without trailing dots and blanks of an element, as Windows would). False
// with the offending entry's path otherwise.
bool findUnconfinedEntry(const std::vector<ManifestEntry>& entries, std::string& offendingPath);

// Looks at the directories between `root` and `root / relative` (both ends excluded), from
// the top down, without following links. `linkedParent` receives the first of them that is
// a symbolic link, relative to root, or stays empty. Directories that do not exist yet end
// the walk: they will be created as real directories. An error comes back when a status
// cannot be read.
std::error_code findLinkedParent(const std::filesystem::path& root, const std::filesystem::path& relative,
                                 std::filesystem::path& linkedParent);
