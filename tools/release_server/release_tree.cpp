#include "tools/release_server/release_tree.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

namespace release_server {

namespace {

// Whole seconds since 1970-01-01 UTC, truncated toward zero like the launcher does.
long long mtimeSeconds(fs::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// True when `inner` is `outer` itself or lies below it (both already canonical).
bool isWithin(const fs::path& inner, const fs::path& outer) {
  auto innerIt = inner.begin();
  for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
    if (outerIt->empty()) continue;  // a trailing separator of `outer`
    if (innerIt == inner.end() || *innerIt != *outerIt) return false;
  }
  return true;
}

}  // namespace

bool isPlainPlatformName(const std::string& platform) {
  if (platform.empty() || platform == "." || platform == "..") return false;
  return platform.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool buildManifest(const fs::path& releaseDir, std::string& json, std::string& error) {
  struct Item {
    std::string path;
    nlohmann::ordered_json entry;
  };
  std::vector<Item> items;
  std::error_code ec;
  fs::recursive_directory_iterator it(releaseDir, fs::directory_options::none, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& item = it->path();
    const fs::file_status status = fs::symlink_status(item, ec);
    if (ec) break;
    const std::string relative = item.lexically_relative(releaseDir).generic_string();
    nlohmann::ordered_json entry;
    entry["path"] = relative;
    if (fs::is_symlink(status)) {
      const fs::path target = fs::read_symlink(item, ec);
      if (ec) break;
      entry["link"] = target.string();
    } else if (fs::is_regular_file(status)) {
      const auto size = fs::file_size(item, ec);
      if (ec) break;
      const auto time = fs::last_write_time(item, ec);
      if (ec) break;
      entry["size"] = size;
      entry["mtime"] = mtimeSeconds(time);
    } else {
      continue;  // directories and special files are not part of a release
    }
    items.push_back({relative, std::move(entry)});
  }
  if (ec) {
    error = "cannot list " + releaseDir.string() + ": " + ec.message();
    return false;
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.path < b.path; });
  nlohmann::ordered_json manifest = nlohmann::ordered_json::array();
  for (Item& item : items) manifest.push_back(std::move(item.entry));
  // File names are bytes; a name that is not UTF-8 is sent with replacement characters.
  json = manifest.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  return true;
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
  if (!isWithin(real, root)) return FileLookup::Forbidden;
  if (!fs::is_regular_file(fs::status(real, ec))) return FileLookup::NotFound;
  file = real;
  return FileLookup::Found;
}

}  // namespace release_server
