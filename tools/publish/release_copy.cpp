#include "tools/publish/release_copy.h"

#include <system_error>

#include "platform/confined_tree.h"
#include "platform/text.h"
#include "tools/publish/site_layout.h"

namespace publish {

namespace {

std::string refusal(const std::string& path) {
  return "refused: " + path + ": replaced by a link or special file after the check";
}

bool openTree(platform::ConfinedTree& tree, const fs::path& root, std::string& error) {
  if (const std::error_code failure = tree.open(root)) {
    error = "cannot open " + root.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  return true;
}

bool cloneFile(const platform::ConfinedTree& tree, const std::string& path, const fs::path& to,
               bool preferHardLinks, CopyCounts& counts, std::string& error) {
  bool hardLinked = false;
  if (const std::error_code failure = tree.cloneFile(path, to, preferHardLinks, hardLinked)) {
    error = platform::ConfinedTree::isReplacedError(failure)
                ? refusal(path)
                : "cannot copy " + path + " to " + to.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  ++(hardLinked ? counts.hardLinked : counts.copied);
  return true;
}

}  // namespace

bool cloneEntries(const fs::path& from, const fs::path& to,
                  const std::vector<release_manifest::ReleaseEntry>& entries, bool preferHardLinks,
                  CopyCounts& counts, std::string& error) {
  platform::ConfinedTree tree;
  if (!openTree(tree, from, error)) return false;
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
    } else if (!cloneFile(tree, entry.path, target, preferHardLinks, counts, error)) {
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
  platform::ConfinedTree tree;
  if (!openTree(tree, from, error)) return false;
  std::error_code ec;
  CopyCounts ignored;
  for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!platform.empty() && belongsToPlatform(name, platform)) continue;
    if (it->is_symlink(ec)) {
      // Recreated with its stored target, like the links of a tree.
      const fs::path target = fs::read_symlink(it->path(), ec);
      if (!ec) fs::create_symlink(target, to / name, ec);
      if (!ec) continue;
      error = "cannot carry over " + it->path().string() + ": " + ec.message();
      return false;
    }
    if (!it->is_directory(ec)) {
      if (!cloneFile(tree, name, to / name, true, ignored, error)) return false;
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
