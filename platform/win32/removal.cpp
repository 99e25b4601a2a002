#include <windows.h>

#include <vector>

#include "platform/filesystem.h"
#include "platform/win32/long_path.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

// FILE_DISPOSITION_INFO_EX and its flags; the SDK headers hide them behind a version check
// that the cross compiler's settings never meet.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionInfoEx {
  DWORD flags;
};

// Systems or file systems without the extended disposition (Windows before 10 1809, FAT
// volumes, Wine) reject it with one of these.
bool isUnsupportedDisposition(DWORD code) {
  return code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION;
}

DWORD settableAttributes(DWORD attributes) {
  constexpr DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                             FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_TEMPORARY;
  const DWORD kept = attributes & settable;
  return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

std::error_code notFoundIsSuccess(const std::error_code& error) {
  return isNotFoundError(error) ? std::error_code() : error;
}

// The classic way: clear the read-only mark, then delete the name.
std::error_code removeByName(const fs::path& path) {
  const std::wstring named = win32::systemPath(path);
  const DWORD attributes = GetFileAttributesW(named.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return notFoundIsSuccess(win32::lastError());
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !SetFileAttributesW(named.c_str(), settableAttributes(attributes & ~FILE_ATTRIBUTE_READONLY))) {
    return win32::lastError();
  }
  // A directory link or junction is removed as a directory, which leaves its target alone.
  const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(named.c_str())
                                                               : DeleteFileW(named.c_str());
  if (removed) return {};
  const std::error_code error = win32::lastError();
  // The item stays, so it keeps its read-only mark.
  if (readOnly) SetFileAttributesW(named.c_str(), settableAttributes(attributes));
  return notFoundIsSuccess(error);
}

}  // namespace

std::error_code removeItem(const fs::path& path) {
  // The item itself is opened, never the target of a link.
  win32::UniqueHandle item(CreateFileW(win32::systemPath(path).c_str(), DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!item) return notFoundIsSuccess(win32::lastError());
  // POSIX semantics take the name away at once, even while other handles stay open.
  DispositionInfoEx disposition{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(item.get(), kFileDispositionInfoEx, &disposition, sizeof disposition)) return {};
  const DWORD code = GetLastError();
  item.reset();
  if (!isUnsupportedDisposition(code)) return win32::systemError(code);
  return removeByName(path);
}

std::error_code removeTree(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(win32::systemPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return notFoundIsSuccess(win32::lastError());
  // Links and junctions are reparse points: they are removed, never entered.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::vector<DirectoryItem> items;
    if (std::error_code error = listDirectory(path, items)) return notFoundIsSuccess(error);
    for (const DirectoryItem& item : items) {
      if (std::error_code error = removeTree(item.path)) return error;
    }
  }
  return removeItem(path);
}

}  // namespace platform
