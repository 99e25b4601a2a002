#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "update/manifest_entry_list.h"

// The record of every manifest path put in place in the installation (update_installed.txt):
// one path a line, as the manifest names it ('/' separators). The uninstaller removes what it
// names and nothing else, so it only ever grows: a file an older release put there stays known
// after a newer release stopped naming it. The installer's offline package ships the same file.

// The paths of the record, in its order; none when it is missing or unreadable. A line ending
// in a carriage return (a record written on Windows) counts without it.
std::vector<std::string> readInstalledPaths(const std::filesystem::path& installDir);

// After an apply that put items in place: the record becomes the union of what it named and
// every entry of `applied` (files, links). False with errorText when it cannot be written; the
// old record is then left as it was.
bool recordInstalledPaths(const std::filesystem::path& installDir, const ManifestEntryList& applied,
                          std::string& errorText);
