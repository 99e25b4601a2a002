#include "update/name_pattern.h"

#include <algorithm>

#include "names/ascii_case.h"

bool matchesNamePattern(std::string_view name, std::string_view pattern) {
  const bool prefixOnly = !pattern.empty() && pattern.back() == '*';
  const std::size_t significant = prefixOnly ? pattern.size() - 1 : pattern.size();
  if (prefixOnly ? name.size() < significant : name.size() != significant) return false;
  for (std::size_t i = 0; i < significant; ++i) {
    if (names::lowerAscii(name[i]) != names::lowerAscii(pattern[i])) return false;
  }
  return true;
}

std::string baseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool matchesAnyNamePattern(std::string_view name, const std::vector<std::string>& patterns) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&name](const std::string& pattern) { return matchesNamePattern(name, pattern); });
}
