#include "tools/publish/release_copy.h"

#include <system_error>

#include "tools/publish/site_layout.h"

namespace publish {

namespace {

bool cloneFile(const fs::path& from, const fs::path& to, bool preferHardLinks,
               CopyCounts& counts, std::string& error) {
  std::error_code ec;
  if (preferHardLinks) {
    fs::create_hard_link(from, to, ec);
    if (!ec) {
      ++counts.hardLinked;
      return true;
    }
  }
  const fs::file_time_type time = fs::last_write_time(from, ec);
  if (!ec) fs::copy_file(from, to, ec);
  if (!ec) fs::last_write_time(to, time, ec);
  if (ec) {
    error = "cannot copy " + from.string() + " to " + to.string() + ": " + ec.message();
    return false;
  }
  ++counts.copied;
  return true;
}

}  // namespace

bool cloneEntries(const fs::path& from, const fs::path& to,
                  const std::vector<release_manifest::ReleaseEntry>& entries, bool preferHardLinks,
                  CopyCounts& counts, std::string& error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const release_manifest::ReleaseEntry& entry : entries) {
    if (ec) break;
    const fs::path target = to / entry.path;
    fs::create_directories(target.parent_path(), ec);
    if (ec) break;
    if (entry.isLink()) {
      fs::create_symlink(entry.link, target, ec);
      ++counts.links;
    } else if (!cloneFile(from / entry.path, target, preferHardLinks, counts, error)) {
      return false;
    }
  }
  if (ec) {
    error = "cannot write into " + to.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool carryOverOtherPlatforms(const fs::path& from, const fs::path& to, const std::string& platform,
                             std::string& error) {
  std::error_code ec;
  CopyCounts ignored;
  for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (belongsToPlatform(name, platform)) continue;
    if (it->is_symlink(ec) || !it->is_directory(ec)) {
      if (!cloneFile(it->path(), to / name, true, ignored, error)) return false;
      continue;
    }
    release_manifest::ReleaseListing listing;
    if (!release_manifest::listReleaseTree(it->path(), listing, error) ||
        !cloneEntries(it->path(), to / name, listing.entries, true, ignored, error)) {
      return false;
    }
  }
  if (ec) {
    error = "cannot list " + from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace publish
