// Manifest paths and links through the confinement rules, against a plain reference. Each
// line of the input is an entry: "path" or "path<TAB>link target".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "staging/confinement.h"
#include "tests/fuzz/windows_fold_reference.h"

namespace {

// The non-empty elements of a path, ASCII letters folded, split where Windows splits.
std::vector<std::string> foldedElements(const std::string& path) {
  std::vector<std::string> elements(1);
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!elements.back().empty()) elements.emplace_back();
    } else {
      elements.back() += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  if (elements.back().empty()) elements.pop_back();
  return elements;
}

// Whether the path, read by Windows or by POSIX, names another root, climbs above its base or
// names the base itself. Windows drops an element's trailing dots and blanks, so an element
// left empty counts as a climb when it held two dots or more (".. ", "...").
bool leavesBase(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return true;
  int depth = 0;
  for (std::string element : foldedElements(path)) {
    const auto dots = std::count(element.begin(), element.end(), '.');
    while (!element.empty() && (element.back() == '.' || element.back() == ' ')) element.pop_back();
    if (!element.empty()) ++depth;
    else if (dots >= 2 && --depth < 0) return true;
  }
  return depth <= 0;
}

// Windows opens "lib", "lib." and "LİB " as the same item.
bool sameOnWindows(const std::string& a, const std::string& b) { return referenceFold(a) == referenceFold(b); }

bool below(const std::vector<std::string>& inner, const std::vector<std::string>& outer) {
  return inner.size() > outer.size() && std::equal(outer.begin(), outer.end(), inner.begin(), sameOnWindows);
}

// Whether a link target, read from the link's directory, leaves the base or cannot be read
// the same way on every system.
bool targetLeaves(const std::string& linkPath, const std::string& target) {
  if (target.empty() || target[0] == '/' || target[0] == '\\') return true;
  if (target.find(':') != std::string::npos || target.find('\0') != std::string::npos) return true;
  auto depth = static_cast<long>(foldedElements(linkPath).size()) - 1;
  for (const std::string& element : foldedElements(target)) {
    if (element == "..") {
      if (--depth < 0) return true;
    } else if (element.find_first_not_of(". ") == std::string::npos && element != ".") {
      return true;
    } else if (element != ".") {
      ++depth;
    }
  }
  return false;
}

// Whether two paths name one file on Windows.
bool sameFile(const std::string& a, const std::string& b) {
  const std::vector<std::string> left = foldedElements(a);
  const std::vector<std::string> right = foldedElements(b);
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), sameOnWindows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<ManifestEntry> entries;
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (std::size_t start = 0; start <= input.size() && entries.size() < 32;) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    const std::string line = input.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    ManifestEntry entry;
    entry.path = line.substr(0, tab);
    if (tab != std::string::npos) entry.link = line.substr(tab + 1);
    entries.push_back(entry);
    start = end + 1;
  }

  // Accepted paths stay inside; the list is accepted exactly when no entry lies below a link.
  bool allConfined = true;
  for (const ManifestEntry& entry : entries) {
    const bool confined = isConfinedManifestPath(entry.path);
    if (confined && leavesBase(entry.path)) std::abort();
    allConfined = allConfined && confined;
  }
  bool belowLink = false;
  for (const ManifestEntry& link : entries)
    for (const ManifestEntry& entry : entries)
      belowLink = belowLink || (!link.link.empty() && below(foldedElements(entry.path), foldedElements(link.path)));
  std::string offendingPath;
  if (findUnconfinedEntry(entries, offendingPath) != (allConfined && !belowLink)) std::abort();

  // The whole judgement accepts a list only when it is confined, its link targets stay inside,
  // and no file has two different names in it.
  std::string judged;
  if (!judgeManifestEntries(entries, judged)) return 0;
  if (!allConfined || belowLink) std::abort();
  for (const ManifestEntry& entry : entries) {
    if (!entry.link.empty() && targetLeaves(entry.path, entry.link)) std::abort();
    for (const ManifestEntry& other : entries)
      if (other.path != entry.path && sameFile(other.path, entry.path)) std::abort();
  }
  return 0;
}
