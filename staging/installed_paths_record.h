#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "update/manifest_entry_list.h"

// The record of every manifest path put in place in the installation (update_installed.txt):
// one path a line, as the manifest names it ('/' separators). The uninstaller removes what it
// names and nothing else, so it only ever grows: a file an older release put there stays known
// after a newer release stopped naming it. The installer's offline package ships the same file.

// What reading the record found: Missing when nothing is at its name; Unreadable when
// something is there that readRecordText refuses (not a plain file, a link, too large, or a
// file that cannot be read), which must then be left as it is.
enum class InstalledPathsRead { Read, Missing, Unreadable };

// The paths of the record, in its order, into `paths` (none unless Read). A line ending in a
// carriage return (a record written on Windows) counts without it.
InstalledPathsRead readInstalledPaths(const std::filesystem::path& installDir, std::vector<std::string>& paths);

enum class InstalledPathsWrite { Written, OldUnreadable, Failed };

// Before an apply: the record becomes the union of what it named and every entry of `pending`
// (files, links), so that a run ended during or after the apply still has them recorded; a
// path recorded but never put in place costs nothing, the uninstaller passes over what is
// missing. OldUnreadable (errorText naming the record) when the record is there but cannot be
// read: the pending paths alone would forget what older releases put there, so it is left as
// it is and the next apply tries again. Failed with errorText when it cannot be written; the
// old record is then left as it was.
InstalledPathsWrite recordInstalledPaths(const std::filesystem::path& installDir, const ManifestEntryList& pending,
                                         std::string& errorText);
