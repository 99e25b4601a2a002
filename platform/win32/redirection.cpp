#include <windows.h>

#include "platform/filesystem.h"
#include "platform/win32/long_path.h"
#include "platform/win32/win32_handles.h"

namespace platform {

// Symbolic links and junctions are both name surrogates: a path walk through either ends up
// somewhere else, which is all a confinement check needs to know.
std::error_code isRedirection(const fs::path& path, bool& redirects) {
  redirects = false;
  const std::wstring named = win32::systemPath(path);
  const DWORD attributes = GetFileAttributesW(named.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const std::error_code error(static_cast<int>(GetLastError()), std::system_category());
    return isNotFoundError(error) ? std::error_code() : error;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {};

  WIN32_FIND_DATAW found{};
  if (!win32::findFirstFile(named, found)) return win32::lastError();
  redirects = IsReparseTagNameSurrogate(found.dwReserved0);
  return {};
}

}  // namespace platform
