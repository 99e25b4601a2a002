// The judgement of names as Windows reads them, against plain references. Each line of the
// input is a manifest path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "names/windows_names.h"
#include "tests/fuzz/windows_fold_reference.h"
#include "update/manifest_paths.h"

namespace {

// The path's non-empty elements, each folded by the reference, joined with '/'.
std::wstring referenceKey(const std::string& path) {
  std::wstring key;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start) key += referenceFold(path.substr(start, slash - start)) + L"/";
    start = slash + 1;
  }
  return key;
}

// A character Windows refuses, or an element it would shorten.
bool refusedByWindows(const std::string& path) {
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string("<>\"|?*").find(c) != std::string::npos) return true;
  }
  for (std::size_t at = 0; (at = path.find_first_of("/", at)) != std::string::npos; ++at) {
    if (at > 0 && (path[at - 1] == '.' || path[at - 1] == ' ')) return true;
  }
  return !path.empty() && (path.back() == '.' || path.back() == ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<ManifestEntry> entries;
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (std::size_t start = 0; start <= input.size() && entries.size() < 16;) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    entries.push_back(ManifestEntry{input.substr(start, end - start), 1, 0, ""});
    start = end + 1;
  }

  bool windowsProblem = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& path = entries[i].path;
    windowsProblem = windowsProblem || refusedByWindows(path);
    // Printable texts hold no control character and are UTF-8 throughout.
    const std::string printable = names::printableName(path);
    for (const char c : printable) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
    if (!names::isUtf8(printable)) std::abort();
    for (std::size_t j = 0; j < i; ++j) {
      const bool same = names::comparedPathKey(path) == names::comparedPathKey(entries[j].path);
      if (same != (referenceKey(path) == referenceKey(entries[j].path))) std::abort();
      windowsProblem = windowsProblem || same;
    }
  }
  std::string errorText;
  if (judgeManifestEntries(entries, errorText) && windowsProblem) std::abort();
  for (const char c : errorText) {
    if (static_cast<unsigned char>(c) < 0x20) std::abort();
  }
  return 0;
}
