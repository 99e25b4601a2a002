#include "staging/confinement.h"

#include <cstddef>
#include <unordered_set>

#include "platform/filesystem.h"

namespace fs = std::filesystem;

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

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string text) {
  for (char& c : text) c = lowerAscii(c);
  return text;
}

bool onlyDotsAndBlanks(const std::string& element) {
  return element.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device instead of a file for these names, with any extension.
bool isReservedDeviceName(const std::string& element) {
  std::string stem = lowerAscii(element.substr(0, element.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
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

std::error_code findLinkedParent(const fs::path& root, const fs::path& relative, fs::path& linkedParent) {
  linkedParent.clear();
  const fs::path parent = relative.parent_path();
  fs::path walked;
  for (const fs::path& element : parent) {
    if (element.empty()) continue;
    walked /= element;
    bool redirects = false;
    if (std::error_code error = platform::isRedirection(root / walked, redirects)) return error;
    if (redirects) {
      linkedParent = walked;
      return {};
    }
    platform::ItemKind kind = platform::ItemKind::Missing;
    if (std::error_code error = platform::queryItemKind(root / walked, false, kind)) return error;
    if (kind == platform::ItemKind::Missing) return {};
  }
  return {};
}
