#include "staging/confinement.h"

#include "platform/filesystem.h"

namespace fs = std::filesystem;

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
