// Whether the installed copy of one manifest entry differs from the server's, judged on
// metadata alone: existence, type, size, last-write time and link target.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "update/update_checker.h"

namespace {

// Two times closer than this count as equal: file systems and archives round times.
constexpr std::uint64_t kTimeToleranceSeconds = 2;

// The entry must be downloaded; the caller learns why when it asked.
bool needed(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
  return true;
}

// The distance between two moments without signed overflow, whatever the manifest holds.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
  const auto ua = static_cast<std::uint64_t>(a);
  const auto ub = static_cast<std::uint64_t>(b);
  return a < b ? ub - ua : ua - ub;
}

// installDir joined with a manifest path, exactly as the path type's operator/ joins them, but
// as text: the check forms one local path for each of possibly 100,000 entries, and building a
// path object splits it into components, which costs about as much as the file-system query.
// A manifest path that is absolute, or that begins with a drive or a root, goes through operator/.
platform::NativeString localPathText(const std::filesystem::path& installDir, const std::string& manifestPath) {
  const platform::NativeString relative = platform::fromUtf8(manifestPath);
  const auto isSeparator = [](platform::NativeString::value_type c) {
    return c == '/' || c == std::filesystem::path::preferred_separator;
  };
  if (relative.empty() || isSeparator(relative[0]) || (relative.size() > 1 && relative[1] == ':')) {
    return (installDir / relative).native();
  }
  // Without a root of its own, the appended text gets a separator after a final file name only.
  platform::NativeString joined = installDir.native();
  if (installDir.has_filename()) joined += std::filesystem::path::preferred_separator;
  joined += relative;
  return joined;
}

bool linkNeedsUpdate(const std::filesystem::path& local, const std::string& expectedTarget, std::string* reason) {
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (platform::queryItemKind(local, false, kind) || kind != platform::ItemKind::Symlink) {
    return needed(reason, "应为软链接但本地不是（需重建）");
  }
  std::string localTarget = "?";
  platform::NativeString stored;
  if (!platform::readSymlinkTarget(local, stored)) {
    localTarget = platform::toUtf8(stored);
    std::replace(localTarget.begin(), localTarget.end(), '\\', '/');
    if (localTarget == expectedTarget) return false;
  }
  if (!reason) return true;
  return needed(reason, "软链接目标不同(本地=" + localTarget + " 远端=" + expectedTarget + ")");
}

bool fileNeedsUpdate(const platform::NativeString& local, const ManifestEntry& entry, std::string* reason) {
  // One query reads kind, size and time together, following links: a link to a file is judged
  // by that file, a dangling one is missing. Since size and time come with the kind, a query
  // that cannot read them leaves the status undetermined and the file counts as missing.
  platform::ItemStatus status;
  if (platform::queryItemStatus(local, true, status) || status.kind == platform::ItemKind::Missing) {
    return needed(reason, "本地不存在");
  }

  // A negative manifest size never equals a real size.
  if (entry.size < 0 || status.size != static_cast<std::uint64_t>(entry.size)) {
    if (!reason) return true;
    return needed(reason,
                  "大小不同(本地=" + std::to_string(status.size) + " 远端=" + std::to_string(entry.size) + ")");
  }

  // Without a server time, equal sizes are enough.
  if (entry.mtime < 1) return false;
  const std::int64_t localSeconds = platform::fileTimeToUnixSeconds(status.lastWriteFileTime);
  if (distance(localSeconds, entry.mtime) <= kTimeToleranceSeconds) return false;
  if (!reason) return true;
  return needed(reason,
                "mtime不同(本地=" + std::to_string(localSeconds) + " 远端=" + std::to_string(entry.mtime) + ")");
}

}  // namespace

bool UpdateChecker::entryNeedsUpdate(const ManifestEntry& entry, std::string* reason) const {
  if (!entry.link.empty()) return linkNeedsUpdate(installDir / platform::pathFromUtf8(entry.path), entry.link, reason);
  return fileNeedsUpdate(localPathText(installDir, entry.path), entry, reason);
}
