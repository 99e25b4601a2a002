#include "tests/release_tools/site_check.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "tests/support/temp_dir.h"
#include "tools/release_manifest/release_manifest.h"

namespace release_tools_test {

std::string currentId(const fs::path& site) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(site / "current", ec))) return {};
  const std::string target = fs::read_symlink(site / "current", ec).string();
  const std::string prefix = "releases/";
  return target.rfind(prefix, 0) == 0 ? target.substr(prefix.size()) : "(not a release) " + target;
}

std::vector<std::string> releaseIds(const fs::path& site) {
  std::vector<std::string> ids;
  std::error_code ec;
  for (fs::directory_iterator it(site / "releases", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.front() != '.') ids.push_back(name);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<std::string> treeContents(const fs::path& dir) {
  std::vector<std::string> items;
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it) {
    const std::string relative = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink()) {
      items.push_back("link " + relative + " -> " + fs::read_symlink(it->path()).string());
    } else if (it->is_regular_file()) {
      items.push_back("file " + relative + " @" +
                      std::to_string(fs::last_write_time(it->path()).time_since_epoch().count()) +
                      " = " + testing_support::readFile(it->path()));
    }
  }
  std::sort(items.begin(), items.end());
  return items;
}

std::string releaseDefect(const fs::path& release, const std::string& platform) {
  const fs::path manifest = release / (platform + ".json");
  if (!fs::is_regular_file(manifest)) return "no manifest " + manifest.string();
  std::string expected;
  std::string error;
  if (!release_manifest::buildManifest(release / platform, expected, error)) return error;
  // Hashes and objects come on top of what the tree says.
  nlohmann::json written = nlohmann::json::parse(testing_support::readFile(manifest));
  for (nlohmann::json& item : written) {
    for (const char* key : {"sha256", "zst", "patches"}) item.erase(key);
  }
  if (written != nlohmann::json::parse(expected)) {
    return "manifest " + written.dump() + " describes another tree: " + expected;
  }
  return {};
}

}  // namespace release_tools_test
