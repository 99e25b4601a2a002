#include "update/manifest_paths.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "log/launcher_log.h"
#include "platform/text.h"
#include "trust/accepted_serial.h"
#include "update/launcher_files.h"
#include "update/name_pattern.h"

namespace {

// The elements between slashes, empty ones included, as views into `path`: the check splits
// every entry's path, and copies of the elements would cost more than the rest of its work.
std::vector<std::string_view> splitAtSlashes(std::string_view path) {
  std::vector<std::string_view> elements;
  elements.reserve(static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1);
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    elements.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return elements;
    start = slash + 1;
  }
}

using platform::lowerAscii;

bool onlyDotsAndBlanks(std::string_view element) {
  return element.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device instead of a file for these names, with any extension; the digit
// of COM and LPT may also be 0 or a superscript one, two or three.
bool isReservedDeviceName(std::string_view element) {
  // Each of them begins with one of these letters: most names are passed without a copy.
  if (element.empty() || std::string("aclnpACLNP").find(element[0]) == std::string::npos) return false;
  std::string stem = lowerAscii(std::string(element.substr(0, element.find('.'))));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$")
    return true;
  if (stem.compare(0, 3, "com") != 0 && stem.compare(0, 3, "lpt") != 0) return false;
  const std::string digit = stem.substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

// The elements that name a place, without empty ones, folded the way Windows compares them:
// ASCII case ignored, trailing dots and blanks dropped ("lib." and "lib " open "lib").
std::string placeKey(const std::vector<std::string_view>& elements, std::size_t count) {
  std::string key;
  for (std::size_t i = 0; i < count; ++i) {
    std::string_view name = elements[i];
    if (name.empty()) continue;
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
    for (const char c : name) key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    key += '/';
  }
  return key;
}

std::string pathPlaceKey(const std::string& path) {
  const std::vector<std::string_view> elements = splitAtSlashes(path);
  return placeKey(elements, elements.size());
}

// The first entry, in the manifest's order, whose path names the place of an earlier entry
// in other letters, with the earliest entry of that place. The keys' hashes are sorted
// rather than kept in a table: a table of 100,000 keys cost the check more than all its
// file-system queries.
bool findPlaceClash(const std::vector<ManifestEntry>& entries, const ManifestEntry*& earlier,
                    const ManifestEntry*& later) {
  std::vector<std::pair<std::size_t, std::size_t>> hashed;  // (hash of the key, entry index)
  hashed.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    hashed.emplace_back(std::hash<std::string>{}(pathPlaceKey(entries[index].path)), index);
  }
  std::sort(hashed.begin(), hashed.end());
  for (std::size_t start = 0, end = 0; start < hashed.size(); start = end) {
    for (end = start + 1; end < hashed.size() && hashed[end].first == hashed[start].first;) ++end;
    // Entries of one hash, in the manifest's order; different keys under one hash are rare.
    for (std::size_t j = start + 1; j < end; ++j) {
      const ManifestEntry& entry = entries[hashed[j].second];
      for (std::size_t i = start; i < j; ++i) {
        const ManifestEntry& first = entries[hashed[i].second];
        if (pathPlaceKey(first.path) != pathPlaceKey(entry.path)) continue;
        if (first.path != entry.path && (later == nullptr || &entry < later)) {
          earlier = &first;
          later = &entry;
        }
        break;
      }
    }
  }
  return later != nullptr;
}

}  // namespace

bool isConfinedManifestPath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
  if (path.find_first_of(std::string("\\:\0", 3)) != std::string::npos) return false;
  for (const std::string_view element : splitAtSlashes(path)) {
    if (element.empty()) continue;
    if (onlyDotsAndBlanks(element) || isReservedDeviceName(element)) return false;
  }
  return true;
}

bool findUnconfinedEntry(const std::vector<ManifestEntry>& entries, std::string& offendingPath) {
  std::unordered_set<std::string> linkKeys;
  for (const ManifestEntry& entry : entries) {
    if (!isConfinedManifestPath(entry.path)) {
      offendingPath = entry.path;
      return false;
    }
    if (!entry.link.empty()) {
      const std::vector<std::string_view> elements = splitAtSlashes(entry.path);
      linkKeys.insert(placeKey(elements, elements.size()));
    }
  }
  if (linkKeys.empty()) return true;
  for (const ManifestEntry& entry : entries) {
    const std::vector<std::string_view> elements = splitAtSlashes(entry.path);
    for (std::size_t count = 1; count < elements.size(); ++count) {
      if (linkKeys.count(placeKey(elements, count)) != 0) {
        offendingPath = entry.path;
        return false;
      }
    }
  }
  return true;
}

bool isConfinedLinkTarget(const std::string& linkPath, const std::string& target) {
  if (target.empty() || target.front() == '/' || target.front() == '\\') return false;
  if (target.find('\0') != std::string::npos || target.find(':') != std::string::npos) return false;
  long depth = 0;
  for (const std::string_view element : splitAtSlashes(linkPath)) depth += element.empty() ? 0 : 1;
  --depth;  // the link's own name
  std::string normalised = target;
  for (char& c : normalised) c = c == '\\' ? '/' : c;
  for (const std::string_view element : splitAtSlashes(normalised)) {
    if (element.empty() || element == ".") continue;
    // Windows shortens "..." or ". ." in ways that are not worth guessing.
    if (element != ".." && onlyDotsAndBlanks(element)) return false;
    depth += element == ".." ? -1 : 1;
    if (depth < 0) return false;
  }
  return true;
}

bool isLauncherOwnPath(const std::string& path) {
  // The check asks this of every entry: the keys of the launcher's names are formed once.
  static const std::vector<std::string> kOwnKeys = [] {
    const std::string serial = kAcceptedSerialFileName;
    std::vector<std::string> keys;
    for (const std::string& own : {std::string(kUpdateReportFileName), std::string(kInstallationLockFileName),
                                   std::string(kStagingDirectoryName), serial, serial + ".new"}) {
      keys.push_back(placeKey({own}, 1));
    }
    return keys;
  }();
  static const std::string kLogsKey = placeKey({kLogDirectoryName}, 1);
  const std::string top = placeKey({std::string_view(path).substr(0, path.find('/'))}, 1);
  if (std::find(kOwnKeys.begin(), kOwnKeys.end(), top) != kOwnKeys.end()) return true;
  if (top != kLogsKey) return false;
  // The logs directory itself and the launcher's daily files in it; the main program may
  // keep files of its own there.
  const std::vector<std::string_view> elements = splitAtSlashes(path);
  std::string below = placeKey(elements, elements.size()).substr(top.size());
  if (below.empty()) return true;
  below.pop_back();  // the key's closing '/'
  static const std::string kSuffix = ".log";
  return below.find('/') == std::string::npos && matchesNamePattern(below, std::string(kDailyLogPrefix) + "*") &&
         below.size() > kSuffix.size() && below.compare(below.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

bool judgeManifestEntries(const std::vector<ManifestEntry>& entries, std::string& errorText) {
  std::string offending;
  if (!findUnconfinedEntry(entries, offending)) {
    errorText = "更新清单路径不安全：" + offending;
    return false;
  }
  // Windows keeps one file for both names: each check would find one of them changed.
  const ManifestEntry* earlier = nullptr;
  const ManifestEntry* later = nullptr;
  if (findPlaceClash(entries, earlier, later)) {
    errorText = "更新清单路径仅大小写不同：" + earlier->path + "，" + later->path;
    return false;
  }
  for (const ManifestEntry& entry : entries) {
    if (!entry.link.empty() && !isConfinedLinkTarget(entry.path, entry.link)) {
      errorText = "更新清单软链接指向安装目录之外：" + entry.path + " -> " + entry.link;
      return false;
    }
  }
  return true;
}
