#include "update/manifest_paths.h"

#include <cstddef>
#include <unordered_map>
#include <unordered_set>

#include "log/launcher_log.h"
#include "platform/text.h"
#include "trust/accepted_serial.h"
#include "update/launcher_files.h"
#include "update/name_pattern.h"

namespace {

std::vector<std::string> splitAtSlashes(const std::string& path) {
  std::vector<std::string> elements;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    elements.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return elements;
    start = slash + 1;
  }
}

using platform::lowerAscii;

bool onlyDotsAndBlanks(const std::string& element) {
  return element.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device instead of a file for these names, with any extension; the digit
// of COM and LPT may also be 0 or a superscript one, two or three.
bool isReservedDeviceName(const std::string& element) {
  std::string stem = lowerAscii(element.substr(0, element.find('.')));
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
std::string placeKey(const std::vector<std::string>& elements, std::size_t count) {
  std::string key;
  for (std::size_t i = 0; i < count; ++i) {
    if (elements[i].empty()) continue;
    std::string name = lowerAscii(elements[i]);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    key += name;
    key += '/';
  }
  return key;
}

}  // namespace

bool isConfinedManifestPath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
  if (path.find_first_of(std::string("\\:\0", 3)) != std::string::npos) return false;
  for (const std::string& element : splitAtSlashes(path)) {
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
      const std::vector<std::string> elements = splitAtSlashes(entry.path);
      linkKeys.insert(placeKey(elements, elements.size()));
    }
  }
  if (linkKeys.empty()) return true;
  for (const ManifestEntry& entry : entries) {
    const std::vector<std::string> elements = splitAtSlashes(entry.path);
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
  for (const std::string& element : splitAtSlashes(linkPath)) depth += element.empty() ? 0 : 1;
  --depth;  // the link's own name
  std::string normalised = target;
  for (char& c : normalised) c = c == '\\' ? '/' : c;
  for (const std::string& element : splitAtSlashes(normalised)) {
    if (element.empty() || element == ".") continue;
    // Windows shortens "..." or ". ." in ways that are not worth guessing.
    if (element != ".." && onlyDotsAndBlanks(element)) return false;
    depth += element == ".." ? -1 : 1;
    if (depth < 0) return false;
  }
  return true;
}

bool isLauncherOwnPath(const std::string& path) {
  const std::vector<std::string> elements = splitAtSlashes(path);
  const std::string top = placeKey(elements, 1);
  const auto keyOf = [](const std::string& name) { return lowerAscii(name) + "/"; };
  const std::string serial = kAcceptedSerialFileName;
  for (const std::string& own : {std::string(kUpdateReportFileName), std::string(kInstallationLockFileName),
                                 std::string(kStagingDirectoryName), serial, serial + ".new"}) {
    if (top == keyOf(own)) return true;
  }
  if (top != keyOf(kLogDirectoryName)) return false;
  // The logs directory itself and the launcher's daily files in it; the main program may
  // keep files of its own there.
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
  std::unordered_map<std::string, const std::string*> places;
  places.reserve(entries.size());
  for (const ManifestEntry& entry : entries) {
    const std::vector<std::string> elements = splitAtSlashes(entry.path);
    const auto inserted = places.emplace(placeKey(elements, elements.size()), &entry.path);
    if (!inserted.second && *inserted.first->second != entry.path) {
      errorText = "更新清单路径仅大小写不同：" + *inserted.first->second + "，" + entry.path;
      return false;
    }
  }
  for (const ManifestEntry& entry : entries) {
    if (!entry.link.empty() && !isConfinedLinkTarget(entry.path, entry.link)) {
      errorText = "更新清单软链接指向安装目录之外：" + entry.path + " -> " + entry.link;
      return false;
    }
  }
  return true;
}
