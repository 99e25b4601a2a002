#pragma once

#include <filesystem>
#include <string>

#include "tools/release_manifest/release_manifest.h"

// What a release may contain so that every launcher accepts it and nothing it names lies
// outside the release. kestrun-publish refuses a tree with any entry that breaks these rules.
namespace release_manifest {

// A manifest path is refused when it is empty, is not UTF-8, begins with "/", contains a
// backslash (the launcher reads it as a separator) or a ":" (a drive or a Windows stream),
// or has an empty, "." or ".." element.
bool isAcceptedPath(const std::string& path, std::string& reason);

// A link target is refused when it is empty, is not UTF-8, is absolute or names a drive, or
// leaves the tree: read as text from the link's directory, with "/" and "\" both separating
// (as a Windows installation will read it), and again on this machine, with every link on
// the way followed.
bool isAcceptedLink(const fs::path& tree, const std::string& linkPath, const std::string& target,
                    std::string& reason);

// True when `inner` is `outer` itself or lies below it; both canonical paths.
bool liesWithin(const fs::path& inner, const fs::path& outer);

// Both rules for one entry of a listing of `tree`.
bool isAcceptedEntry(const fs::path& tree, const ReleaseEntry& entry, std::string& reason);

}  // namespace release_manifest
