#include "update/manifest_paths.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "names/installation_layout.h"
#include "names/windows_names.h"

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

// Calls visit with each element between slashes, empty ones included, until it returns false.
template <typename Visit>
bool everyElement(std::string_view path, Visit visit) {
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    if (!visit(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start))) {
      return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

bool onlyDotsAndBlanks(std::string_view element) {
  return element.find_first_not_of(". ") == std::string::npos;
}

// The elements that name a place, without empty ones, folded the way Windows compares them
// (names/windows_names.h): letter case of all of Unicode ignored, trailing dots and blanks
// dropped ("lib." and "lib " open "lib"), invalid UTF-8 read as U+FFFD.
std::string placeKey(const std::vector<std::string_view>& elements, std::size_t count) {
  std::string key;
  for (std::size_t i = 0; i < count; ++i) {
    if (elements[i].empty()) continue;
    names::appendComparedName(key, elements[i]);
    key += '/';
  }
  return key;
}

// The same for a whole path, without splitting it into a list first.
std::string pathPlaceKey(std::string_view path) { return names::comparedPathKey(path); }

// Calls visit(folder's key, its hash) for the folders of `path` from the top (each a place key
// ending in '/'), until it returns true; `key` is the buffer they are formed in.
template <typename Visit>
bool anyFolder(std::string_view path, std::string& key, Visit visit) {
  key.clear();
  const std::size_t lastSlash = path.rfind('/');
  if (lastSlash == std::string_view::npos) return false;
  names::RunningHash hash;
  bool found = false;
  everyElement(path.substr(0, lastSlash), [&](std::string_view element) {
    if (element.empty()) return true;
    const std::size_t from = key.size();
    names::appendComparedName(key, element);
    key += '/';
    hash.add(std::string_view(key).substr(from));
    found = visit(std::string_view(key), hash.value());
    return !found;
  });
  return found;
}

// The first entry, in the manifest's order, whose path names the place of an earlier entry
// in other letters, with the earliest entry of that place; and apart from it the first entry
// that repeats an earlier path exactly. The keys' hashes are sorted rather than kept in a
// table: a table of 100,000 keys cost the check more than all its file-system queries.
// The entries' paths and link targets, from a vector of entries or the compact list alike.
std::size_t countOf(const std::vector<ManifestEntry>& entries) { return entries.size(); }
std::string_view pathOf(const std::vector<ManifestEntry>& entries, std::size_t i) { return entries[i].path; }
std::string_view linkOf(const std::vector<ManifestEntry>& entries, std::size_t i) { return entries[i].link; }
std::size_t countOf(const ManifestEntryList& entries) { return entries.size(); }
std::string_view pathOf(const ManifestEntryList& entries, std::size_t i) { return entries.path(i); }
std::string_view linkOf(const ManifestEntryList& entries, std::size_t i) { return entries.link(i); }

constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

struct PlaceClashes {
  std::size_t earlier = kNoEntry;
  std::size_t later = kNoEntry;
  std::size_t repeated = kNoEntry;
  std::size_t file = kNoEntry;   // an entry whose place is also a folder,
  std::size_t below = kNoEntry;  // of this entry
};

using HashedKeys = std::vector<std::pair<std::uint64_t, std::size_t>>;  // (hash of the key, entry index), sorted

// The first entry, in the manifest's order, below a folder whose place another entry names as
// a file ("data" and "Data/x"): Windows can write only one of them. Only the folders that
// differ from the previous entry's are looked up, so a manifest in tree order costs a look per
// folder.
template <typename Entries>
void findFileUsedAsFolder(const Entries& entries, const HashedKeys& hashed, PlaceClashes& found) {
  std::string_view previousFolder;
  std::string key;
  std::string previousKey;
  for (std::size_t index = 0; index < countOf(entries); ++index) {
    const std::string_view path = pathOf(entries, index);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || (index > 0 && path.substr(0, slash) == previousFolder)) continue;
    previousFolder = path.substr(0, slash);
    bool shared = true;  // so far the previous entry's folders, looked up already
    const bool clash = anyFolder(path, key, [&](std::string_view folderKey, std::uint64_t hash) {
      const std::size_t from = folderKey.rfind('/', folderKey.size() - 2) + 1;  // npos + 1: the top
      shared = shared && folderKey.size() <= previousKey.size() &&
               std::string_view(previousKey).substr(from, folderKey.size() - from) == folderKey.substr(from);
      if (shared) return false;
      for (auto at = std::lower_bound(hashed.begin(), hashed.end(), std::make_pair(hash, std::size_t{0}));
           at != hashed.end() && at->first == hash; ++at) {
        if (pathPlaceKey(pathOf(entries, at->second)) != folderKey) continue;
        found.file = at->second;
        found.below = index;
        return true;
      }
      return false;
    });
    if (clash) return;
    previousKey.swap(key);
  }
}

template <typename Entries>
PlaceClashes findPlaceClashes(const Entries& entries) {
  HashedKeys hashed;
  hashed.reserve(countOf(entries));
  std::string key;
  for (std::size_t index = 0; index < countOf(entries); ++index) {
    key.clear();
    names::appendComparedPathKey(key, pathOf(entries, index));
    hashed.emplace_back(names::hashOf(key), index);
  }
  std::sort(hashed.begin(), hashed.end());
  PlaceClashes found;
  for (std::size_t start = 0, end = 0; start < hashed.size(); start = end) {
    for (end = start + 1; end < hashed.size() && hashed[end].first == hashed[start].first;) ++end;
    // Entries of one hash, in the manifest's order; different keys under one hash are rare.
    for (std::size_t j = start + 1; j < end; ++j) {
      const std::size_t entry = hashed[j].second;
      for (std::size_t i = start; i < j; ++i) {
        const std::size_t first = hashed[i].second;
        if (pathPlaceKey(pathOf(entries, first)) != pathPlaceKey(pathOf(entries, entry))) continue;
        std::size_t& slot = pathOf(entries, first) == pathOf(entries, entry) ? found.repeated : found.later;
        if (slot == kNoEntry || entry < slot) {
          if (&slot == &found.later) found.earlier = first;
          slot = entry;
        }
        break;
      }
    }
  }
  findFileUsedAsFolder(entries, hashed, found);
  return found;
}

// The first entry with an element longer than Windows writes; most paths are too short to have one.
template <typename Entries>
std::size_t findOverlongName(const Entries& entries) {
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    const std::string_view path = pathOf(entries, entry);
    if (path.size() <= names::kMaxNameUnits) continue;
    if (!everyElement(path, [](std::string_view element) { return names::utf16Length(element) <= names::kMaxNameUnits; })) {
      return entry;
    }
  }
  return kNoEntry;
}

// Whether a path has a '~' or an element ending in a dot or blank: most paths have neither.
bool worthALook(std::string_view path) {
  char previous = '/';
  for (const char c : path) {
    if (c == '~' || (c == '/' && (previous == '.' || previous == ' '))) return true;
    previous = c;
  }
  return previous == '.' || previous == ' ';
}

// Whether a path names a launcher's daily log by its short name ("logs/KESTRU~1.LOG").
bool mayBeShortNameOfDailyLog(std::string_view path) {
  static const std::string kLogsKey = placeKey({kLogDirectoryName}, 1);
  const std::vector<std::string_view> elements = splitAtSlashes(path);
  return elements.size() == 2 && placeKey(elements, 1) == kLogsKey &&
         names::mayBeShortNameOf(elements[1], std::string(kDailyLogPrefix) + "*");
}

// The first entry with an element that Windows would shorten, or that has the form of a short
// name of a file the launcher keeps for itself (at the top, and its daily logs) or of a locked
// name (anywhere).
template <typename Entries>
std::size_t findWindowsNameProblem(const Entries& entries, const std::vector<std::string>& lockedPatterns,
                                   bool& shortName) {
  static const std::vector<std::string> kOwnNames = launcherOwnTopNames();
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    const std::string_view path = pathOf(entries, entry);
    if (!worthALook(path)) continue;
    names::ElementProblem problem = names::findElementProblem(path, kOwnNames, lockedPatterns);
    if (problem == names::ElementProblem::None && mayBeShortNameOfDailyLog(path)) {
      problem = names::ElementProblem::ShortName;
    }
    if (problem == names::ElementProblem::None) continue;
    shortName = problem == names::ElementProblem::ShortName;
    return entry;
  }
  return kNoEntry;
}

}  // namespace

bool isConfinedManifestPath(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
  if (names::hasCharacterWindowsRefuses(path)) return false;  // a backslash, ':' and NUL among them
  return everyElement(path, [](std::string_view element) {
    return element.empty() || (!onlyDotsAndBlanks(element) && !names::isReservedDeviceName(element));
  });
}

namespace {

template <typename Entries>
bool findUnconfined(const Entries& entries, std::string& offendingPath) {
  names::LinkPlaces links;
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    const std::string_view path = pathOf(entries, entry);
    if (!isConfinedManifestPath(path)) {
      offendingPath = std::string(path);
      return false;
    }
    if (!linkOf(entries, entry).empty()) links.add(pathPlaceKey(path));
  }
  if (links.empty()) return true;
  links.seal();
  // An entry below a link would be written wherever the link leads.
  std::string key;
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    const bool belowALink = anyFolder(pathOf(entries, entry), key, [&](std::string_view folderKey, std::uint64_t hash) {
      return links.contains(folderKey, hash);
    });
    if (belowALink) {
      offendingPath = std::string(pathOf(entries, entry));
      return false;
    }
  }
  return true;
}

}  // namespace

bool findUnconfinedEntry(const std::vector<ManifestEntry>& entries, std::string& offendingPath) {
  return findUnconfined(entries, offendingPath);
}

bool findUnconfinedEntry(const ManifestEntryList& entries, std::string& offendingPath) {
  return findUnconfined(entries, offendingPath);
}

bool isConfinedLinkTarget(std::string_view linkPath, std::string_view target) {
  if (target.empty() || target.front() == '/' || target.front() == '\\') return false;
  if (target.find('\0') != std::string::npos || target.find(':') != std::string::npos) return false;
  long depth = 0;
  for (const std::string_view element : splitAtSlashes(linkPath)) depth += element.empty() ? 0 : 1;
  --depth;  // the link's own name
  std::string normalised(target);
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

namespace {

template <typename Entries>
bool judgeEntries(const Entries& entries, std::string& errorText, const std::vector<std::string>& lockedPatterns) {
  using names::printableName;
  std::string offending;
  if (!findUnconfined(entries, offending)) {
    errorText = "更新清单路径不安全：" + printableName(offending);
    return false;
  }
  if (const std::size_t entry = findOverlongName(entries); entry != kNoEntry) {
    errorText = "更新清单路径中的名称过长：" + printableName(pathOf(entries, entry));
    return false;
  }
  // Windows keeps one file for both names: each check would find one of them changed.
  const PlaceClashes clashes = findPlaceClashes(entries);
  if (clashes.later != kNoEntry) {
    const std::string_view earlier = pathOf(entries, clashes.earlier);
    const std::string_view later = pathOf(entries, clashes.later);
    const bool letters = names::isUtf8(earlier) && names::isUtf8(later);
    errorText = std::string(letters ? "更新清单路径仅大小写不同：" : "更新清单路径仅无效的 UTF-8 字节不同：") +
                printableName(earlier) + "，" + printableName(later);
    return false;
  }
  // Two transfers at once would write one staged file.
  if (clashes.repeated != kNoEntry) {
    errorText = "更新清单路径重复：" + printableName(pathOf(entries, clashes.repeated));
    return false;
  }
  if (clashes.file != kNoEntry) {
    errorText = "更新清单路径既是文件又是文件夹：" + printableName(pathOf(entries, clashes.file)) + "，" +
                printableName(pathOf(entries, clashes.below));
    return false;
  }
  // Either would land on another file, perhaps one that is held open (the launcher itself).
  bool shortName = false;
  if (const std::size_t entry = findWindowsNameProblem(entries, lockedPatterns, shortName); entry != kNoEntry) {
    errorText = std::string(shortName ? "更新清单路径可能是受保护文件的短文件名：" : "更新清单路径以点或空格结尾：") +
                printableName(pathOf(entries, entry));
    return false;
  }
  names::LinkPlaces links;
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    if (!linkOf(entries, entry).empty()) links.add(names::comparedPathKey(pathOf(entries, entry)));
  }
  if (links.empty()) return true;
  links.seal();
  for (std::size_t entry = 0; entry < countOf(entries); ++entry) {
    const std::string_view path = pathOf(entries, entry);
    const std::string_view link = linkOf(entries, entry);
    if (link.empty()) continue;
    const bool outside = !isConfinedLinkTarget(path, link);
    // Only the last element of a target may be a link: "y/../x" with "y" a link to ".." stays
    // inside as text but not when resolved.
    if (outside || names::passesThroughLink(path, link, links)) {
      errorText = std::string(outside ? "更新清单软链接指向安装目录之外：" : "更新清单软链接经过另一个软链接：") +
                  printableName(path) + " -> " + printableName(link);
      return false;
    }
  }
  return true;
}

}  // namespace

bool judgeManifestEntries(const std::vector<ManifestEntry>& entries, std::string& errorText,
                          const std::vector<std::string>& lockedPatterns) {
  return judgeEntries(entries, errorText, lockedPatterns);
}

bool judgeManifestEntries(const ManifestEntryList& entries, std::string& errorText,
                          const std::vector<std::string>& lockedPatterns) {
  return judgeEntries(entries, errorText, lockedPatterns);
}
