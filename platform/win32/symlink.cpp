#include <windows.h>
#include <winioctl.h>

#include <new>

#include "platform/filesystem.h"
#include "platform/win32/link_target.h"
#include "platform/win32/reparse_data.h"
#include "platform/win32/win32_handles.h"

namespace platform {

std::error_code createFileSymlink(const NativeString& target, const fs::path& link) {
  NativeString stored;
  try {
    stored = win32::windowsLinkTarget(target);
  } catch (const std::bad_alloc&) {
    return std::make_error_code(std::errc::not_enough_memory);
  }
  if (!CreateSymbolicLinkW(link.c_str(), stored.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    const DWORD code = GetLastError();
    if (code != ERROR_INVALID_PARAMETER) return win32::systemError(code);
    // A system from before the unprivileged flag rejects it as a bad parameter.
    if (!CreateSymbolicLinkW(link.c_str(), stored.c_str(), 0)) return win32::lastError();
  }
  // Some Windows emulations (Wine 8) answer success and create nothing; a link that is not
  // there must not be counted as created.
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return win32::systemError(ERROR_NOT_SUPPORTED);
  }
  return {};
}

namespace {

// A name inside the path buffer of reparse data, checked against the bytes actually returned.
bool readName(const WCHAR* pathBuffer, std::size_t bufferBytes, USHORT offset, USHORT length, NativeString& name) {
  if (offset % sizeof(WCHAR) != 0 || length % sizeof(WCHAR) != 0) return false;
  if (static_cast<std::size_t>(offset) + length > bufferBytes) return false;
  name.assign(pathBuffer + offset / sizeof(WCHAR), length / sizeof(WCHAR));
  return true;
}

// Both names of a symbolic link's or a junction's reparse data; the two layouts name them
// alike. `start` is where the path buffer begins inside the returned bytes.
template <typename Names>
bool readBothNames(const Names& names, std::size_t start, DWORD returned, NativeString& printName,
                   NativeString& substituteName) {
  if (returned < start) return false;
  const std::size_t bufferBytes = returned - start;
  return readName(names.PathBuffer, bufferBytes, names.PrintNameOffset, names.PrintNameLength, printName) &&
         readName(names.PathBuffer, bufferBytes, names.SubstituteNameOffset, names.SubstituteNameLength,
                  substituteName);
}

}  // namespace

std::error_code readSymlinkTarget(const fs::path& link, NativeString& target) {
  target.clear();
  // The link itself is opened; FILE_FLAG_OPEN_REPARSE_POINT keeps the system from following it.
  win32::UniqueHandle item(CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!item) return win32::lastError();

  alignas(8) unsigned char buffer[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
  DWORD returned = 0;
  if (!DeviceIoControl(item.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, sizeof buffer, &returned, nullptr)) {
    return win32::lastError();
  }
  const auto* data = reinterpret_cast<const win32::ReparseDataBuffer*>(buffer);
  const auto invalid = win32::systemError(ERROR_INVALID_REPARSE_DATA);
  if (returned < win32::kReparseHeaderSize) return invalid;

  NativeString printName;
  NativeString substituteName;
  if (data->ReparseTag == IO_REPARSE_TAG_SYMLINK) {
    if (!readBothNames(data->SymbolicLinkReparseBuffer,
                       offsetof(win32::ReparseDataBuffer, SymbolicLinkReparseBuffer.PathBuffer), returned, printName,
                       substituteName)) {
      return invalid;
    }
  } else if (data->ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
    if (!readBothNames(data->MountPointReparseBuffer,
                       offsetof(win32::ReparseDataBuffer, MountPointReparseBuffer.PathBuffer), returned, printName,
                       substituteName)) {
      return invalid;
    }
  } else {
    return win32::systemError(ERROR_REPARSE_TAG_INVALID);
  }
  target = printName.empty() ? substituteName : printName;
  return {};
}

}  // namespace platform
