#include "names/name_pattern.h"

#include <algorithm>

#include "names/ascii_case.h"

namespace names {

bool matchesNamePattern(std::string_view name, std::string_view pattern) {
  const bool prefixOnly = !pattern.empty() && pattern.back() == '*';
  const std::size_t significant = prefixOnly ? pattern.size() - 1 : pattern.size();
  if (prefixOnly ? name.size() < significant : name.size() != significant) return false;
  for (std::size_t i = 0; i < significant; ++i) {
    if (lowerAscii(name[i]) != lowerAscii(pattern[i])) return false;
  }
  return true;
}

std::string_view baseNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool matchesAnyNamePattern(std::string_view name, const std::vector<std::string>& patterns) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&name](const std::string& pattern) { return matchesNamePattern(name, pattern); });
}

}  // namespace names
