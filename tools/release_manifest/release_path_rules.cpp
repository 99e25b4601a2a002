#include "tools/release_manifest/release_path_rules.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "names/installation_layout.h"
#include "names/windows_names.h"

namespace release_manifest {

namespace {

std::vector<std::string> splitAt(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (separators.find(c) != std::string::npos) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool startsWithDrive(const std::string& text) {
  return text.size() >= 2 && text[1] == ':' &&
         ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

// Walks the target's elements from the link's directory, counting depth below the tree.
bool staysInsideAsText(const std::string& linkPath, const std::string& target) {
  long depth = static_cast<long>(splitAt(linkPath, "/").size()) - 1;
  for (const std::string& element : splitAt(target, "/\\")) {
    if (element.empty() || element == ".") continue;
    depth += element == ".." ? -1 : 1;
    if (depth < 0) return false;
  }
  return true;
}

}  // namespace

bool liesWithin(const fs::path& inner, const fs::path& outer) {
  auto innerIt = inner.begin();
  for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
    if (outerIt->empty()) continue;  // a trailing separator of `outer`
    if (innerIt == inner.end() || *innerIt != *outerIt) return false;
  }
  return true;
}

bool isAcceptedPath(const std::string& path, std::string& reason) {
  if (path.empty()) {
    reason = "empty path";
  } else if (!names::isUtf8(path)) {
    reason = "not UTF-8";
  } else if (path.front() == '/') {
    reason = "absolute path";
  } else if (path.find('\\') != std::string::npos) {
    reason = "backslash in the name";
  } else if (path.find(':') != std::string::npos) {
    reason = "\":\" in the name";
  } else {
    for (const std::string& element : splitAt(path, "/")) {
      if (element.empty() || element == "." || element == "..") {
        reason = "\"" + element + "\" element";
        return false;
      }
    }
    return true;
  }
  return false;
}

bool isAcceptedWindowsPath(const std::string& path, std::string& reason) {
  static const std::vector<std::string> kOwnNames = launcherOwnTopNames();
  static const std::vector<std::string> kLockedNames = lockedProductPatterns();
  if (names::hasCharacterWindowsRefuses(path)) {
    reason = "a character Windows refuses in names";
    return false;
  }
  for (const std::string& element : splitAt(path, "/")) {
    if (names::isReservedDeviceName(element)) {
      reason = "\"" + element + "\" is a device on Windows";
      return false;
    }
  }
  switch (names::findElementProblem(path, kOwnNames, kLockedNames)) {
    case names::ElementProblem::DotOrBlankAtEnd:
      reason = "a name ending in a dot or blank, which Windows drops";
      return false;
    case names::ElementProblem::ShortName:
      reason = "a Windows short name of a file the launcher never replaces";
      return false;
    case names::ElementProblem::None:
      break;
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> findWindowsNameClashes(const std::vector<ReleaseEntry>& entries) {
  std::vector<std::pair<std::string, std::size_t>> keyed;  // (key, entry index)
  for (std::size_t index = 0; index < entries.size(); ++index) {
    std::string key;
    for (const std::string& element : splitAt(entries[index].path, "/")) {
      names::appendComparedName(key, element);
      key += '/';
    }
    keyed.emplace_back(std::move(key), index);
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::pair<std::size_t, std::size_t>> clashes;  // (later, earliest of its key)
  for (std::size_t i = 1, first = 0; i < keyed.size(); ++i) {
    if (keyed[i].first != keyed[first].first) {
      first = i;
      continue;
    }
    clashes.emplace_back(keyed[i].second, keyed[first].second);
  }
  std::sort(clashes.begin(), clashes.end());
  std::vector<std::pair<std::string, std::string>> named;
  for (const auto& [later, earlier] : clashes) named.emplace_back(entries[later].path, entries[earlier].path);
  return named;
}

std::vector<std::pair<std::string, std::string>> findLinksThroughLinks(const std::vector<ReleaseEntry>& entries) {
  names::LinkPlaces links;
  for (const ReleaseEntry& entry : entries) {
    if (entry.isLink()) links.add(names::comparedPathKey(entry.path));
  }
  links.seal();
  std::vector<std::pair<std::string, std::string>> found;
  for (const ReleaseEntry& entry : entries) {
    if (entry.isLink() && names::passesThroughLink(entry.path, entry.link, links)) {
      found.emplace_back(entry.path, entry.link);
    }
  }
  return found;
}

bool isAcceptedLink(const fs::path& tree, const std::string& linkPath, const std::string& target,
                    std::string& reason) {
  if (target.empty()) {
    reason = "link without a target";
    return false;
  }
  if (!names::isUtf8(target)) {
    reason = "link target not UTF-8";
    return false;
  }
  if (target.front() == '/' || target.front() == '\\' || startsWithDrive(target)) {
    reason = "absolute link target " + target;
    return false;
  }
  // Every launcher refuses these on every platform: a stream or drive, and elements that
  // Windows shortens ("...", ". .") in ways not worth guessing.
  if (target.find(':') != std::string::npos) {
    reason = "link target " + target + " names a drive or a stream";
    return false;
  }
  for (const std::string& element : splitAt(target, "/\\")) {
    if (element != "." && element != ".." && !element.empty() &&
        element.find_first_not_of(". ") == std::string::npos) {
      reason = "link target " + target + " has an element of dots and blanks";
      return false;
    }
  }
  if (!staysInsideAsText(linkPath, target)) {
    reason = "link target " + target + " leaves the release";
    return false;
  }
  std::error_code ec;
  const fs::path root = fs::canonical(tree, ec);
  const fs::path linkDir = (tree / linkPath).parent_path();
  const fs::path real = ec ? fs::path() : fs::weakly_canonical(linkDir / target, ec);
  if (ec) {
    reason = "link target " + target + " cannot be resolved: " + ec.message();
    return false;
  }
  if (!liesWithin(real, root)) {
    reason = "link target " + target + " leaves the release through another link";
    return false;
  }
  return true;
}

bool isAcceptedEntry(const fs::path& tree, const ReleaseEntry& entry, std::string& reason) {
  if (!isAcceptedPath(entry.path, reason)) return false;
  return !entry.isLink() || isAcceptedLink(tree, entry.path, entry.link, reason);
}

}  // namespace release_manifest
