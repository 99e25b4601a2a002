#pragma once

#include <filesystem>
#include <string>

// The files of one platform's release, as the update server presents them.
namespace release_server {

namespace fs = std::filesystem;

// A platform name names exactly one directory under the release root: not empty, not "."
// or "..", and without "/", "\" or NUL.
bool isPlainPlatformName(const std::string& platform);

// The manifest of a release directory as it is now, by the rules of
// tools/release_manifest (the ones kestrun-publish writes with). False with an error text
// when the walk fails.
bool buildManifest(const fs::path& releaseDir, std::string& json, std::string& error);

enum class FileLookup { Found, BadRequest, Forbidden, NotFound };

// Resolves a manifest path (relative, "/" separators) to a regular file of the release.
// Refused (Forbidden): absolute paths, ".." elements, and anything whose real location,
// after every symbolic link is followed, lies outside the release directory.
FileLookup findReleaseFile(const fs::path& releaseDir, const std::string& manifestPath,
                           fs::path& file);

}  // namespace release_server
