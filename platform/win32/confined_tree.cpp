// The confined tree on Windows: every directory on the way and the file itself are checked
// for name-surrogate reparse points, then the file is copied by its path, so a swap between
// the check and the copy is not caught here. (The release tools run on Linux only; this keeps
// the platform whole.)
#include "platform/confined_tree.h"

#include <windows.h>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/win32/long_path.h"
#include "platform/win32/open_unredirected.h"

namespace platform {

ConfinedTree::~ConfinedTree() = default;

std::error_code ConfinedTree::open(const std::filesystem::path& root) {
  root_ = root;
  handle_ = 0;
  return {};
}

std::error_code ConfinedTree::cloneFile(const std::string& relative, const std::filesystem::path& to,
                                        bool preferHardLink, bool& hardLinked) const {
  hardLinked = false;
  (void)preferHardLink;  // a copy keeps the release independent of the source on Windows
  std::filesystem::path walked = root_;
  const std::filesystem::path path = pathFromUtf8(relative);
  for (const std::filesystem::path& element : path.parent_path()) {
    walked /= element;
    bool redirects = false;
    if (std::error_code error = isRedirection(walked, redirects)) return error;
    if (redirects) return win32::systemError(ERROR_CANT_ACCESS_FILE);
  }
  std::error_code error;
  const win32::UniqueHandle file = win32::openUnredirected(root_ / path, GENERIC_READ, OPEN_EXISTING, error);
  if (!file) return error;
  if (!CopyFileW(win32::systemPath(root_ / path).c_str(), win32::systemPath(to).c_str(), TRUE)) {
    return win32::lastError();
  }
  return {};
}

bool ConfinedTree::isReplacedError(const std::error_code& error) {
  return error.category() == std::system_category() && error.value() == ERROR_CANT_ACCESS_FILE;
}

}  // namespace platform
