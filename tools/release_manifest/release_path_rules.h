#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tools/release_manifest/release_manifest.h"

// What a release may contain so that every launcher accepts it and nothing it names lies
// outside the release. kestrun-publish refuses a tree with any entry that breaks these rules.
namespace release_manifest {

// A manifest path is refused when it is empty, is not UTF-8, begins with "/", contains a
// backslash (the launcher reads it as a separator) or a ":" (a drive or a Windows stream),
// or has an empty, "." or ".." element.
bool isAcceptedPath(const std::string& path, std::string& reason);

// For a release of the "windows" platform also, as the launcher judges its manifest
// (names/windows_names.h): a character Windows refuses in names, a reserved device name, an
// element ending in a dot or blank, or one of the form of a short name of the launcher's own
// files or of its locked names.
bool isAcceptedWindowsPath(const std::string& path, std::string& reason);

// The entries whose paths name one file on Windows with an earlier entry's path (letter case
// alone differs), each with that earlier path, in the listing's order.
std::vector<std::pair<std::string, std::string>> findWindowsNameClashes(const std::vector<ReleaseEntry>& entries);

// The links whose targets pass through another link of the listing before their last
// element (names::passesThroughLink), each with its target, in the listing's order: the
// launcher refuses a manifest with any of them.
std::vector<std::pair<std::string, std::string>> findLinksThroughLinks(const std::vector<ReleaseEntry>& entries);

// A link target is refused when it is empty, is not UTF-8, is absolute, holds a ':' (a drive
// or a stream), has an element of dots and blanks other than "." and "..", or leaves the tree: read as text from the link's directory, with "/" and "\" both separating
// (as a Windows installation will read it), and again on this machine, with every link on
// the way followed.
bool isAcceptedLink(const fs::path& tree, const std::string& linkPath, const std::string& target,
                    std::string& reason);

// True when `inner` is `outer` itself or lies below it; both canonical paths.
bool liesWithin(const fs::path& inner, const fs::path& outer);

// Both rules for one entry of a listing of `tree`.
bool isAcceptedEntry(const fs::path& tree, const ReleaseEntry& entry, std::string& reason);

}  // namespace release_manifest
