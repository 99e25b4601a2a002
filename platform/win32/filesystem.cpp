#include "platform/filesystem.h"

#include <windows.h>

#include <cerrno>
#include <memory>

#include "platform/extended_path.h"
#include "platform/text.h"
#include "platform/win32/long_path.h"
#include "platform/win32/open_unredirected.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the item for reading or changing its metadata. Links are followed unless asked
// otherwise; FILE_FLAG_BACKUP_SEMANTICS lets directories be opened as well.
win32::UniqueHandle openMetadata(const fs::path& path, DWORD access, bool followLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (!followLinks) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return win32::UniqueHandle(
      CreateFileW(win32::systemPath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
}

ItemKind kindOf(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && reparseTag == IO_REPARSE_TAG_SYMLINK) return ItemKind::Symlink;
  // A junction, or any other reparse point on a directory, is a directory.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ItemKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return ItemKind::Other;
  return ItemKind::Regular;
}

// The reparse tag of the item itself; the directory listing knows it when the item cannot
// be opened.
std::error_code reparseTagOf(const fs::path& path, DWORD& tag) {
  win32::UniqueHandle item = openMetadata(path, FILE_READ_ATTRIBUTES, false);
  if (item) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(item.get(), FileAttributeTagInfo, &info, sizeof info)) {
      return win32::lastError();
    }
    tag = info.ReparseTag;
    return {};
  }
  const std::error_code openError = win32::lastError();
  WIN32_FIND_DATAW found{};
  if (!win32::findFirstFile(win32::systemPath(path), found)) return openError;
  tag = found.dwReserved0;
  return {};
}

std::int64_t fromFileTime(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME toFileTime(std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(bits & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(bits >> 32);
  return time;
}

}  // namespace

bool isNotFoundError(const std::error_code& error) {
  if (error.category() == std::system_category()) {
    switch (error.value()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_BAD_NETPATH:
      case ERROR_NETNAME_DELETED:
      case ERROR_INVALID_NAME:
      case ERROR_DIRECTORY:
        return true;
      default:
        return false;
    }
  }
  // The C runtime's view of the same condition, from code that went through it.
  if (error.category() == std::generic_category()) return error.value() == ENOENT || error.value() == ENOTDIR;
  return false;
}

std::error_code queryItemStatus(const fs::path& path, bool followLinks, ItemStatus& status) {
  return queryItemStatus(path.native(), followLinks, status);
}

std::error_code queryItemStatus(const NativeString& path, bool followLinks, ItemStatus& status) {
  status = ItemStatus();
  // GetFileAttributesExW reports the item itself, a link included, with its size and times.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win32::systemPath(path).c_str(), GetFileExInfoStandard, &data)) {
    const std::error_code error = win32::lastError();
    return isNotFoundError(error) ? std::error_code() : error;
  }
  DWORD attributes = data.dwFileAttributes;
  DWORD sizeHigh = data.nFileSizeHigh;
  DWORD sizeLow = data.nFileSizeLow;
  FILETIME written = data.ftLastWriteTime;
  DWORD tag = 0;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && followLinks) {
    // Opening follows the whole chain of links to the final item.
    win32::UniqueHandle target = openMetadata(fs::path(path), FILE_READ_ATTRIBUTES, true);
    if (!target) {
      const std::error_code error = win32::lastError();
      return isNotFoundError(error) ? std::error_code() : error;  // a dangling link
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(target.get(), &info)) return win32::lastError();
    attributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT;
    sizeHigh = info.nFileSizeHigh;
    sizeLow = info.nFileSizeLow;
    written = info.ftLastWriteTime;
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // Only the tag tells a symbolic link from a junction or another kind of reparse point.
    if (std::error_code error = reparseTagOf(fs::path(path), tag)) {
      return isNotFoundError(error) ? std::error_code() : error;
    }
  }
  status.kind = kindOf(attributes, tag);
  status.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  status.lastWriteFileTime = fromFileTime(written);
  return {};
}

std::error_code queryItemKind(const fs::path& path, bool followLinks, ItemKind& kind) {
  ItemStatus status;
  const std::error_code error = queryItemStatus(path, followLinks, status);
  kind = status.kind;
  return error;
}

std::error_code readSmallFile(const fs::path& path, std::size_t limit, std::string& text, bool& tooLarge) {
  text.clear();
  tooLarge = false;
  std::error_code error;
  // openUnredirected refuses a link or junction at the path.
  win32::UniqueHandle file = win32::openUnredirected(path, GENERIC_READ, OPEN_EXISTING, error);
  if (!file) return error;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return win32::lastError();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return win32::systemError(ERROR_ACCESS_DENIED);
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > limit) {
    tooLarge = true;
    return {};
  }
  char buffer[4096];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) return win32::lastError();
    if (count == 0) return {};
    // A file that grew while it was read is still held to its bound.
    if (text.size() + count > limit) {
      text.clear();
      tooLarge = true;
      return {};
    }
    text.append(buffer, count);
  }
}

std::error_code fileSize(const fs::path& path, std::uint64_t& size) {
  win32::UniqueHandle item = openMetadata(path, FILE_READ_ATTRIBUTES, true);
  if (!item) return win32::lastError();
  LARGE_INTEGER value{};
  if (!GetFileSizeEx(item.get(), &value)) return win32::lastError();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return {};
}

std::error_code lastWriteFileTime(const fs::path& path, std::int64_t& fileTime) {
  win32::UniqueHandle item = openMetadata(path, FILE_READ_ATTRIBUTES, true);
  if (!item) return win32::lastError();
  FILETIME written{};
  if (!GetFileTime(item.get(), nullptr, nullptr, &written)) return win32::lastError();
  fileTime = fromFileTime(written);
  return {};
}

std::error_code setLastWriteFileTime(const fs::path& path, std::int64_t fileTime) {
  win32::UniqueHandle item = openMetadata(path, FILE_WRITE_ATTRIBUTES, true);
  if (!item) return win32::lastError();
  const FILETIME written = toFileTime(fileTime);
  if (!SetFileTime(item.get(), nullptr, nullptr, &written)) return win32::lastError();
  return {};
}

std::int64_t currentFileTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return fromFileTime(now);
}

std::error_code createDirectories(const fs::path& path) {
  if (path.empty()) return win32::systemError(ERROR_PATH_NOT_FOUND);
  const std::wstring named = win32::systemPath(path);
  DWORD attributes = GetFileAttributesW(named.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? std::error_code() : win32::systemError(ERROR_ALREADY_EXISTS);
  }
  const fs::path parent = path.parent_path();
  if (!parent.empty() && parent != path && parent.has_relative_path()) {
    if (std::error_code error = createDirectories(parent)) return error;
  }
  if (CreateDirectoryW(named.c_str(), nullptr)) return {};
  const std::error_code error = win32::lastError();
  // Someone else may have created it in the meantime, which is just as good.
  attributes = GetFileAttributesW(named.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return error;
}

std::string directoryIdentityText(const fs::path& path) {
  constexpr DWORD kFinalPathFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::wstring text;
  if (const win32::UniqueHandle directory = openMetadata(path, FILE_READ_ATTRIBUTES, true)) {
    const DWORD size = GetFinalPathNameByHandleW(directory.get(), nullptr, 0, kFinalPathFlags);
    if (size > 0) {
      text.resize(size);
      const DWORD length = GetFinalPathNameByHandleW(directory.get(), text.data(), size, kFinalPathFlags);
      text.resize(length > 0 && length < size ? length : 0);
    }
  }
  if (text.empty()) text = win32::systemPath(path);
  std::wstring upper(text.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                                   upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length > 0) text = upper.substr(0, static_cast<std::size_t>(length));
  return toUtf8(text);
}

std::string storedFileName(const fs::path& path) {
  // The system's own answer, so that every alias it accepts is seen through. Wine's
  // GetLongPathNameW leaves an extended-length name as it is: the classic form goes whenever
  // it fits.
  std::wstring named = win32::systemPath(path);
  if (withoutExtendedPrefix(named).size() < MAX_PATH) named = withoutExtendedPrefix(named);
  std::wstring longPath(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetLongPathNameW(named.c_str(), longPath.data(), static_cast<DWORD>(longPath.size()));
    if (length == 0) break;
    if (length < longPath.size()) {
      longPath.resize(length);
      return toUtf8(fs::path(longPath).filename().native());
    }
    longPath.resize(length);
  }
  return toUtf8(path.filename().native());
}

std::error_code syncDirectory(const fs::path&) { return {}; }

std::error_code moveReplacing(const fs::path& from, const fs::path& to) {
  if (!MoveFileExW(win32::systemPath(from).c_str(), win32::systemPath(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return win32::lastError();
  }
  return {};
}

std::error_code copyOverwriting(const fs::path& from, const fs::path& to) {
  if (!CopyFileW(win32::systemPath(from).c_str(), win32::systemPath(to).c_str(), FALSE)) {
    return win32::lastError();
  }
  return {};
}

std::error_code listDirectory(const fs::path& directory, std::vector<DirectoryItem>& items) {
  WIN32_FIND_DATAW found{};
  const win32::UniqueFindHandle search = win32::findFirstFile(win32::systemPath(directory / L"*"), found);
  if (!search) {
    const DWORD code = GetLastError();
    // "No match" on a directory that exists (a drive root has no "." entry) is an empty listing.
    if (code == ERROR_FILE_NOT_FOUND) {
      const DWORD attributes = GetFileAttributesW(win32::systemPath(directory).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    }
    return win32::systemError(code);
  }
  do {
    const NativeString name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    items.push_back(DirectoryItem{directory / name, kindOf(found.dwFileAttributes, found.dwReserved0)});
  } while (FindNextFileW(search.get(), &found));
  const DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) return win32::systemError(code);
  return {};
}

std::error_code isExecutableFile(const fs::path&, bool& executable) {
  executable = false;
  return {};
}

std::error_code makeExecutable(const fs::path&) { return {}; }

}  // namespace platform
