#include "tools/release_server/release_tree.h"

#include <system_error>

#include "tools/release_manifest/release_manifest.h"
#include "tools/release_manifest/release_path_rules.h"

namespace release_server {

bool isPlainPlatformName(const std::string& platform) {
  if (platform.empty() || platform == "." || platform == "..") return false;
  return platform.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool buildManifest(const fs::path& releaseDir, std::string& json, std::string& error) {
  return release_manifest::buildManifest(releaseDir, json, error);
}

FileLookup findReleaseFile(const fs::path& releaseDir, const std::string& manifestPath,
                           fs::path& file) {
  if (manifestPath.empty() || manifestPath.find('\0') != std::string::npos) {
    return FileLookup::BadRequest;
  }
  const fs::path requested(manifestPath);
  if (requested.is_absolute() || requested.has_root_path()) return FileLookup::Forbidden;
  for (const fs::path& element : requested) {
    if (element == "..") return FileLookup::Forbidden;
  }

  std::error_code ec;
  const fs::path root = fs::canonical(releaseDir, ec);
  if (ec) return FileLookup::NotFound;
  const fs::path candidate = root / requested;
  if (!fs::exists(fs::symlink_status(candidate, ec))) return FileLookup::NotFound;
  // A link inside the release may point anywhere; only what really lies inside is served.
  const fs::path real = fs::canonical(candidate, ec);
  if (ec) return FileLookup::NotFound;
  if (!release_manifest::liesWithin(real, root)) return FileLookup::Forbidden;
  if (!fs::is_regular_file(fs::status(real, ec))) return FileLookup::NotFound;
  file = real;
  return FileLookup::Found;
}

}  // namespace release_server
