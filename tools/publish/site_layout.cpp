#include "tools/publish/site_layout.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace publish {

fs::path platformTree(const fs::path& release, const std::string& platform) {
  return release / platform;
}

fs::path manifestFile(const fs::path& release, const std::string& platform) {
  return release / (platform + ".json");
}

bool belongsToPlatform(const std::string& itemName, const std::string& platform) {
  return itemName == platform || itemName.rfind(platform + ".", 0) == 0;
}

bool isPlatformName(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

bool isReleaseId(const std::string& id) {
  if (id.empty() || id.front() == '.') return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
  });
}

bool listReleaseIds(const SiteLayout& layout, std::vector<std::string>& ids, std::string& error) {
  ids.clear();
  std::error_code ec;
  for (fs::directory_iterator it(layout.releasesDir(), ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (isReleaseId(name) && it->is_directory(ec)) ids.push_back(name);
  }
  if (ec && ec != std::errc::no_such_file_or_directory) {
    error = "cannot list " + layout.releasesDir().string() + ": " + ec.message();
    return false;
  }
  std::sort(ids.begin(), ids.end());
  return true;
}

bool currentReleaseId(const SiteLayout& layout, std::string& id, std::string& error) {
  id.clear();
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(layout.currentLink(), ec);
  if (status.type() == fs::file_type::not_found) return true;
  if (ec || !fs::is_symlink(status)) {
    error = layout.currentLink().string() + " is not a link to a release";
    return false;
  }
  const std::string target = fs::read_symlink(layout.currentLink(), ec).string();
  const std::string prefix = SiteLayout::currentTarget("");
  if (ec || target.rfind(prefix, 0) != 0 || !isReleaseId(target.substr(prefix.size()))) {
    error = layout.currentLink().string() + " points at " + target + ", not at a release";
    return false;
  }
  id = target.substr(prefix.size());
  return true;
}

std::string newReleaseId(const SiteLayout& layout) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  // One past the highest number of this second, also among partial and removed releases:
  // ids keep sorting by age after older ones have been pruned.
  const std::string prefix = std::string(stamp) + "-";
  int highest = 0;
  std::error_code ec;
  for (fs::directory_iterator it(layout.releasesDir(), ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    for (const char* work : {".partial-", ".removing-"}) {
      if (name.rfind(work, 0) == 0) name.erase(0, std::string(work).size());
    }
    if (name.rfind(prefix, 0) == 0) highest = std::max(highest, std::atoi(name.c_str() + prefix.size()));
  }
  char id[48];
  std::snprintf(id, sizeof id, "%s%03d", prefix.c_str(), highest + 1);
  return id;
}

}  // namespace publish
