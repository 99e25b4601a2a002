// Whether the installed copy of one manifest entry differs from the server's, judged on
// metadata alone: existence, type, size, last-write time and link target.
#include "update/entry_comparison.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "update/update_checker.h"

namespace {

// Two times closer than this count as equal: file systems and archives round times.
constexpr std::uint64_t kTimeToleranceSeconds = 2;

// The distance between two moments without signed overflow, whatever the manifest holds.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
  const auto ua = static_cast<std::uint64_t>(a);
  const auto ub = static_cast<std::uint64_t>(b);
  return a < b ? ub - ua : ua - ub;
}

// UTF-8 appended to native text: as it is where the native text is UTF-8, converted elsewhere.
template <typename Native>
void appendNative(Native& native, std::string_view utf8) {
  if constexpr (std::is_same<Native, std::string>::value) {
    native.append(utf8);
  } else {
    native += platform::fromUtf8(std::string(utf8));
  }
}

// installDir joined with a manifest path, exactly as the path type's operator/ joins them, but
// as text: the check forms one local path for each of possibly 100,000 entries, and building a
// path object splits it into components, which costs about as much as the file-system query.
// A manifest path that is absolute, or that begins with a drive or a root, goes through operator/.
void formLocalPath(const std::filesystem::path& installDir, std::string_view manifestPath,
                   platform::NativeString& joined) {
  const auto isSeparator = [](char c) { return c == '/' || c == std::filesystem::path::preferred_separator; };
  if (manifestPath.empty() || isSeparator(manifestPath[0]) || (manifestPath.size() > 1 && manifestPath[1] == ':')) {
    joined = (installDir / platform::fromUtf8(std::string(manifestPath))).native();
    return;
  }
  // Without a root of its own, the appended text gets a separator after a final file name only.
  joined = installDir.native();
  if (installDir.has_filename()) joined += std::filesystem::path::preferred_separator;
  appendNative(joined, manifestPath);
}

template <typename Number>
void appendNumber(std::string& text, Number value) {
  text += std::to_string(value);
}

}  // namespace

Difference compareInstalledFile(const std::filesystem::path& installDir, std::string_view path, std::int64_t size,
                                std::int64_t mtime, std::int64_t& local, platform::NativeString& localPath) {
  formLocalPath(installDir, path, localPath);
  // One query reads kind, size and time together, following links: a link to a file is judged
  // by that file, a dangling one is missing. Since size and time come with the kind, a query
  // that cannot read them leaves the status undetermined and the file counts as missing.
  platform::ItemStatus status;
  if (platform::queryItemStatus(localPath, true, status) || status.kind == platform::ItemKind::Missing) {
    return Difference::Missing;
  }
  // A negative manifest size never equals a real size.
  if (size < 0 || status.size != static_cast<std::uint64_t>(size)) {
    local = static_cast<std::int64_t>(status.size);
    return Difference::Size;
  }
  // Without a server time, equal sizes are enough.
  if (mtime < 1) return Difference::None;
  local = platform::fileTimeToUnixSeconds(status.lastWriteFileTime);
  return distance(local, mtime) <= kTimeToleranceSeconds ? Difference::None : Difference::Time;
}

Difference compareInstalledLink(const std::filesystem::path& installDir, std::string_view path,
                                std::string_view target, std::string& localTarget) {
  const std::filesystem::path local = installDir / platform::pathFromUtf8(std::string(path));
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (platform::queryItemKind(local, false, kind) || kind != platform::ItemKind::Symlink) return Difference::NotALink;
  localTarget = "?";
  platform::NativeString stored;
  if (!platform::readSymlinkTarget(local, stored)) {
    localTarget = platform::toUtf8(stored);
    std::replace(localTarget.begin(), localTarget.end(), '\\', '/');
    if (localTarget == target) return Difference::None;
  }
  return Difference::LinkTarget;
}

void appendDifferenceText(std::string& text, Difference difference, std::int64_t local, std::int64_t size,
                          std::int64_t mtime, std::string_view localTarget, std::string_view target) {
  switch (difference) {
    case Difference::None:
      return;
    case Difference::Missing:
      text += "本地不存在";
      return;
    case Difference::Size:
      // The local size is the file system's unsigned figure.
      text += "大小不同(本地=";
      appendNumber(text, static_cast<std::uint64_t>(local));
      text += " 远端=";
      appendNumber(text, size);
      text += ')';
      return;
    case Difference::Time:
      text += "mtime不同(本地=";
      appendNumber(text, local);
      text += " 远端=";
      appendNumber(text, mtime);
      text += ')';
      return;
    case Difference::NotALink:
      text += "应为软链接但本地不是（需重建）";
      return;
    case Difference::LinkTarget:
      text.append("软链接目标不同(本地=").append(localTarget).append(" 远端=").append(target) += ')';
      return;
  }
}

bool UpdateChecker::entryNeedsUpdate(const ManifestEntry& entry, std::string* reason) const {
  std::int64_t local = 0;
  std::string localTarget;
  platform::NativeString localPath;
  const Difference difference =
      entry.link.empty() ? compareInstalledFile(installDir, entry.path, entry.size, entry.mtime, local, localPath)
                         : compareInstalledLink(installDir, entry.path, entry.link, localTarget);
  if (difference == Difference::None) return false;
  if (reason) {
    reason->clear();
    appendDifferenceText(*reason, difference, local, entry.size, entry.mtime, localTarget, entry.link);
  }
  return true;
}
