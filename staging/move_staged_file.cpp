#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/filesystem.h"
#include "staging/monotonic_pause.h"
#include "staging/staging_apply.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMoveAttempts = 50;

bool isSymlink(const fs::path& path) {
  platform::ItemKind kind = platform::ItemKind::Missing;
  return !platform::queryItemKind(path, false, kind) && kind == platform::ItemKind::Symlink;
}

}  // namespace

bool moveStagedFile(const fs::path& stagedFile, const fs::path& target, std::error_code& error) {
  error.clear();
  if (std::error_code created = platform::createDirectories(target.parent_path())) error = created;

  std::int64_t stagedTime = 0;
  const bool haveStagedTime = !platform::lastWriteFileTime(stagedFile, stagedTime);

  // The main program or a virus scanner may still hold the target for a moment after the
  // program has ended: keep trying for about five seconds.
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    platform::ItemKind kind = platform::ItemKind::Missing;
    if (std::error_code status = platform::queryItemKind(target, true, kind))
      throw fs::filesystem_error("exists", target, status);

    // A dangling link reads as missing when followed, but it must go as well: the copy
    // below would otherwise write through it.
    if (kind != platform::ItemKind::Missing || isSymlink(target)) {
      if (std::error_code removed = platform::removeItem(target)) {
        error = removed;
        pauseOnMonotonicClock(std::chrono::milliseconds(100));
        continue;
      }
    }

    std::error_code moved = platform::moveReplacing(stagedFile, target);
    if (!moved) return true;
    error = moved;

    if (isSymlink(target)) {
      // Something put a link in place meanwhile; never copy through it.
      error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
      pauseOnMonotonicClock(std::chrono::milliseconds(100));
      continue;
    }
    if (std::error_code copied = platform::copyOverwriting(stagedFile, target)) {
      error = copied;
      pauseOnMonotonicClock(std::chrono::milliseconds(100));
      continue;
    }
    if (haveStagedTime) platform::setLastWriteFileTime(target, stagedTime);
    platform::removeItem(stagedFile);
    return true;
  }
  return false;
}
