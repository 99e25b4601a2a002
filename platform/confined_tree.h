#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace platform {

// A directory tree whose files are reached from its root one directory at a time, never
// through a link, so that a link swapped into the tree after it was listed and checked
// cannot lead out of it (to a publisher's signing key, say). The root itself is followed: it
// is what the caller named.
class ConfinedTree {
 public:
  ConfinedTree() = default;
  ~ConfinedTree();
  ConfinedTree(const ConfinedTree&) = delete;
  ConfinedTree& operator=(const ConfinedTree&) = delete;

  std::error_code open(const std::filesystem::path& root);

  // Puts the regular file at `relative` ('/'-separated) onto `to`, which must not exist: a
  // hard link when `preferHardLink` and the system allows it (kept only if it is the very
  // file that was opened), else a copy of its bytes, permissions and modification time to the
  // nanosecond. A link or anything but a directory on the way, or anything but a regular file
  // at the end, gives ELOOP (Windows: ERROR_CANT_ACCESS_FILE); `hardLinked` tells which way
  // the file went.
  std::error_code cloneFile(const std::string& relative, const std::filesystem::path& to, bool preferHardLink,
                            bool& hardLinked) const;

  // Whether an error of cloneFile means that the entry was replaced after it was checked.
  static bool isReplacedError(const std::error_code& error);

 private:
  std::filesystem::path root_;
  std::intptr_t handle_ = -1;
};

}  // namespace platform
