#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/manifest_entry_list.h"

// The rules for a manifest's paths and link targets, judged on their text alone: a manifest
// comes from the network, and an entry that would leave the installation, or that could
// never be applied, must be found before anything is looked up, stopped or written.

// Whether a manifest path stays below the directory it is joined to, on Windows and
// elsewhere alike. Refused: an empty path or one ending in '/'; a leading '/' (root,
// server share); a '\' (the check turns every '\' into '/', so one left over would be read
// as a separator on Windows only); a ':' (drive or stream on Windows); a NUL; an element
// made only of dots and blanks ("." and ".." included, which Windows would also shorten);
// and the reserved device names of Windows (CON, NUL, COM0-COM9, COM¹-COM³, LPT likewise,
// with any extension); the characters Windows refuses in names (< > " | ? * and control
// characters). Empty elements ("a//b") are allowed.
bool isConfinedManifestPath(std::string_view path);

// Checks the whole list before anything is written: every path (of files and of links) must
// be confined, and no entry may lie below another entry that is a link (compared without
// ASCII case and without trailing dots and blanks of an element, as Windows would). False
// with the offending entry's path otherwise.
bool findUnconfinedEntry(const std::vector<ManifestEntry>& entries, std::string& offendingPath);
bool findUnconfinedEntry(const ManifestEntryList& entries, std::string& offendingPath);

// Whether a link target, read from the directory of the link at `linkPath`, names a place
// inside the installation: not absolute, no drive, no NUL, never climbing above the top, no
// element of dots and blanks but "." and "..".
// Other links on the way are not resolved here; judgeManifestEntries refuses a target that
// passes through a link of the manifest.
bool isConfinedLinkTarget(std::string_view linkPath, std::string_view target);

// The judgement of a whole manifest before the check looks at any local file, as Windows will
// read it: the paths are confined; no two name one file on Windows (letter case of all of
// Unicode, or bytes that are not UTF-8, alone differ; every later check would find one of
// them changed); no path repeats (two transfers at once would write one staged file); no
// element ends in a dot or blank, or has the form of a short name of the launcher's own
// files or of `lockedPatterns` (each would land on another file); and every link target
// stays inside without passing through another link of the manifest. False with a text
// naming the offending entry, its control characters escaped (names::printableName).
bool judgeManifestEntries(const std::vector<ManifestEntry>& entries, std::string& errorText,
                          const std::vector<std::string>& lockedPatterns = {});
bool judgeManifestEntries(const ManifestEntryList& entries, std::string& errorText,
                          const std::vector<std::string>& lockedPatterns = {});
