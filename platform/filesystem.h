#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/native_string.h"

// File-system operations with the installation's rules on both systems. Every operation
// reports failure as an error_code (system category: Windows error codes on Windows, errno
// values elsewhere) and never throws for a failing system call.
namespace platform {

namespace fs = std::filesystem;

enum class ItemKind { Missing, Regular, Directory, Symlink, Other };

// True for the errors that mean "not there" when a status is queried: Windows 2, 3, 53,
// 64, 123, 267; ENOENT and ENOTDIR elsewhere.
bool isNotFoundError(const std::error_code& error);

// Kind of the item at `path`. A not-found error gives Missing without an error. With
// followLinks false a symbolic link gives Symlink (a Windows junction gives Directory).
std::error_code queryItemKind(const fs::path& path, bool followLinks, ItemKind& kind);

// Kind, size and last-write time of one item, read together.
struct ItemStatus {
  ItemKind kind = ItemKind::Missing;
  std::uint64_t size = 0;
  std::int64_t lastWriteFileTime = 0;  // 100-nanosecond units since 1601-01-01 UTC
};

// The status of the item at `path` from one metadata query of the item itself (lstat;
// Windows: GetFileAttributesExW). A second query is made only for a link: with followLinks
// the link's final target is read (a dangling link gives Missing), without it the reparse
// tag tells a Windows symbolic link from a junction. Size and time then describe the target,
// or without followLinks the link itself. Missing and not-found errors as queryItemKind.
std::error_code queryItemStatus(const fs::path& path, bool followLinks, ItemStatus& status);
// The same for a path given as its native text: a loop over many items need not build a path
// object (and split it into components) for each.
std::error_code queryItemStatus(const NativeString& path, bool followLinks, ItemStatus& status);

// Whether the item at `path` itself sends a path walk elsewhere: a symbolic link, or on
// Windows any name-surrogate reparse point (a junction too). Missing gives false.
std::error_code isRedirection(const fs::path& path, bool& redirects);

// Size in bytes, following links.
std::error_code fileSize(const fs::path& path, std::uint64_t& size);

// Reads a small file that the launcher keeps for itself into `text`: never through a link, only
// a regular file (anything else is an error, as a missing file is), and only when it holds at
// most `limit` bytes; a larger one sets `tooLarge` and is not read.
std::error_code readSmallFile(const fs::path& path, std::size_t limit, std::string& text, bool& tooLarge);

// Last-write time as 100-nanosecond units since 1601-01-01 UTC (a Windows FILETIME),
// following links.
std::error_code lastWriteFileTime(const fs::path& path, std::int64_t& fileTime);
std::error_code setLastWriteFileTime(const fs::path& path, std::int64_t fileTime);

// The current time in the same units.
std::int64_t currentFileTime();

// Conversions between FILETIME units and whole seconds since 1970-01-01 UTC; seconds are
// truncated toward zero.
constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000LL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000LL;
inline std::int64_t fileTimeToUnixSeconds(std::int64_t fileTime) {
  return (fileTime - kFileTimeUnixEpoch) / kFileTimeUnitsPerSecond;
}
// The seconds since 1970 that a FILETIME can hold; a conversion of anything beyond them
// stops at this limit instead of overflowing.
constexpr std::int64_t kFileTimeEpochOffsetSeconds = 11644473600LL;
constexpr std::int64_t kMaxUnixSecondsAsFileTime = INT64_MAX / kFileTimeUnitsPerSecond - kFileTimeEpochOffsetSeconds;
constexpr std::int64_t kMinUnixSecondsAsFileTime = INT64_MIN / kFileTimeUnitsPerSecond + kFileTimeEpochOffsetSeconds;
inline std::int64_t unixSecondsToFileTime(std::int64_t seconds) {
  if (seconds > kMaxUnixSecondsAsFileTime) seconds = kMaxUnixSecondsAsFileTime;
  if (seconds < kMinUnixSecondsAsFileTime) seconds = kMinUnixSecondsAsFileTime;
  return (seconds + kFileTimeEpochOffsetSeconds) * kFileTimeUnitsPerSecond;
}

// Creates a directory and its missing parents; an existing directory is no error.
std::error_code createDirectories(const fs::path& path);

// Deletes a file, a symbolic link (never its target) or an empty directory; a read-only
// file is deleted as well. A missing item is no error.
std::error_code removeItem(const fs::path& path);

// Deletes a directory with everything in it, or a single file or link. Links inside are
// removed, never followed. A missing item is no error.
std::error_code removeTree(const fs::path& path);

// Creates a file symbolic link at `link` whose stored target is `target` after normalising
// its separators (Windows: every "/" becomes "\", runs after the root name collapse to one;
// elsewhere runs of "/" collapse to one). The target is not resolved or validated.
std::error_code createFileSymlink(const NativeString& target, const fs::path& link);

// The stored target of the link at `link`, which is opened itself, never followed.
std::error_code readSymlinkTarget(const fs::path& link, NativeString& target);

// The name under which the item at `path` is stored in its directory, in UTF-8: on Windows
// the long name behind an 8.3 alias ("VCRUNT~1.DLL" gives "vcruntime140.dll"); elsewhere,
// and for an item that does not exist, the last component of `path` itself.
std::string storedFileName(const fs::path& path);

// One text for the directory at `path`, whichever route names it: its final path, with links,
// 8.3 short names and mapped drives resolved (Windows: GetFinalPathNameByHandleW, in upper
// case, since Windows names ignore letter case; elsewhere the canonical path). The path's
// full text when the directory cannot be opened.
std::string directoryIdentityText(const fs::path& path);

// Renames `from` to `to`, replacing an existing `to` (Windows: MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED).
std::error_code moveReplacing(const fs::path& from, const fs::path& to);

// Flushes a directory's entries to the disk, so that a rename in it survives a power cut.
// Windows keeps no such separate record: nothing to do there.
std::error_code syncDirectory(const fs::path& directory);

// Copies the file `from` onto `to`, overwriting it.
std::error_code copyOverwriting(const fs::path& from, const fs::path& to);

// One item of a directory listing; `kind` is read without following links.
struct DirectoryItem {
  fs::path path;
  ItemKind kind;
};

// The items directly inside `directory`, in the order the system lists them. On an error
// `items` keeps what was listed before it.
std::error_code listDirectory(const fs::path& directory, std::vector<DirectoryItem>& items);

// Permission bits that Windows does not have. On Windows both are no-ops: the first reports
// false, the second succeeds.
std::error_code isExecutableFile(const fs::path& path, bool& executable);
std::error_code makeExecutable(const fs::path& path);

}  // namespace platform
