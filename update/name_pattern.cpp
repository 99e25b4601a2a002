#include "update/name_pattern.h"

namespace {

char foldAsciiCase(char byte) { return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte; }

}  // namespace

bool matchesNamePattern(const std::string& name, const std::string& pattern) {
  const bool prefixOnly = !pattern.empty() && pattern.back() == '*';
  const std::size_t significant = prefixOnly ? pattern.size() - 1 : pattern.size();
  if (prefixOnly ? name.size() < significant : name.size() != significant) return false;
  for (std::size_t i = 0; i < significant; ++i) {
    if (foldAsciiCase(name[i]) != foldAsciiCase(pattern[i])) return false;
  }
  return true;
}

std::string baseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
