#include "tools/release_manifest/release_manifest.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include <nlohmann/json.hpp>

namespace release_manifest {

std::int64_t mtimeSeconds(fs::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

bool listReleaseTree(const fs::path& tree, ReleaseListing& listing, std::string& error) {
  listing = {};
  std::error_code ec;
  // Default options: links to directories are listed as links, never entered.
  fs::recursive_directory_iterator it(tree, fs::directory_options::none, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& item = it->path();
    const fs::file_status status = fs::symlink_status(item, ec);
    if (ec) break;
    ReleaseEntry entry;
    entry.path = item.lexically_relative(tree).generic_string();
    if (fs::is_symlink(status)) {
      entry.link = fs::read_symlink(item, ec).string();
      if (ec) break;
    } else if (fs::is_regular_file(status)) {
      entry.size = fs::file_size(item, ec);
      if (ec) break;
      const auto time = fs::last_write_time(item, ec);
      if (ec) break;
      entry.mtime = mtimeSeconds(time);
    } else {
      if (!fs::is_directory(status)) listing.specialFiles.push_back(entry.path);
      continue;
    }
    listing.entries.push_back(std::move(entry));
  }
  if (ec) {
    error = "cannot list " + tree.string() + ": " + ec.message();
    return false;
  }
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const ReleaseEntry& a, const ReleaseEntry& b) { return a.path < b.path; });
  return true;
}

std::string manifestJson(const std::vector<ReleaseEntry>& entries) {
  nlohmann::ordered_json manifest = nlohmann::ordered_json::array();
  for (const ReleaseEntry& entry : entries) {
    nlohmann::ordered_json item;
    item["path"] = entry.path;
    if (entry.isLink()) {
      item["link"] = entry.link;
    } else {
      item["size"] = entry.size;
      item["mtime"] = entry.mtime;
      if (!entry.sha256.empty()) item["sha256"] = entry.sha256;
      if (!entry.zst.empty()) {
        item["zst"] = {{"size", entry.zst.front().size}, {"sha256", entry.zst.front().sha256}};
      }
      for (const ReleaseObject& patch : entry.patches) {
        item["patches"].push_back(
            {{"from_sha256", patch.fromSha256}, {"size", patch.size}, {"sha256", patch.sha256}});
      }
    }
    manifest.push_back(std::move(item));
  }
  return manifest.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool buildManifest(const fs::path& tree, std::string& json, std::string& error) {
  ReleaseListing listing;
  if (!listReleaseTree(tree, listing, error)) return false;
  json = manifestJson(listing.entries);
  return true;
}

}  // namespace release_manifest
