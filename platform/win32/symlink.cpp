#include <windows.h>
#include <winioctl.h>

#include <new>
#include <string>

#include "platform/filesystem.h"
#include "platform/win32/link_target.h"
#include "platform/win32/long_path.h"
#include "platform/win32/reparse_names.h"
#include "platform/win32/win32_handles.h"

namespace platform {

static_assert(win32::kSymlinkReparseTag == IO_REPARSE_TAG_SYMLINK &&
                  win32::kMountPointReparseTag == IO_REPARSE_TAG_MOUNT_POINT,
              "the reparse reader's tags are the system's");

std::error_code createFileSymlink(const NativeString& target, const fs::path& link) {
  NativeString stored;
  try {
    stored = win32::windowsLinkTarget(target);
  } catch (const std::bad_alloc&) {
    return std::make_error_code(std::errc::not_enough_memory);
  }
  const std::wstring named = win32::systemPath(link);
  if (!CreateSymbolicLinkW(named.c_str(), stored.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    const DWORD code = GetLastError();
    if (code != ERROR_INVALID_PARAMETER) return win32::systemError(code);
    // A system from before the unprivileged flag rejects it as a bad parameter.
    if (!CreateSymbolicLinkW(named.c_str(), stored.c_str(), 0)) return win32::lastError();
  }
  // Some Windows emulations (Wine 8) answer success and create nothing; a link that is not
  // there must not be counted as created.
  const DWORD attributes = GetFileAttributesW(named.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return win32::systemError(ERROR_NOT_SUPPORTED);
  }
  return {};
}

std::error_code readSymlinkTarget(const fs::path& link, NativeString& target) {
  target.clear();
  // The link itself is opened; FILE_FLAG_OPEN_REPARSE_POINT keeps the system from following it.
  win32::UniqueHandle item(CreateFileW(win32::systemPath(link).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!item) return win32::lastError();

  alignas(8) unsigned char buffer[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
  DWORD returned = 0;
  if (!DeviceIoControl(item.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, sizeof buffer, &returned, nullptr)) {
    return win32::lastError();
  }
  std::u16string printName;
  std::u16string substituteName;
  switch (win32::readReparseNames(buffer, returned, printName, substituteName)) {
    case win32::ReparseNames::Read:
      break;
    case win32::ReparseNames::Invalid:
      return win32::systemError(ERROR_INVALID_REPARSE_DATA);
    case win32::ReparseNames::OtherTag:
      return win32::systemError(ERROR_REPARSE_TAG_INVALID);
  }
  const std::u16string& name = printName.empty() ? substituteName : printName;
  target.assign(name.begin(), name.end());
  return {};
}

}  // namespace platform
