#include "platform/win32/long_path.h"

#include <windows.h>

#include "platform/extended_path.h"

namespace platform::win32 {

std::wstring systemPath(const std::filesystem::path& path) { return systemPath(path.native()); }

std::wstring systemPath(const std::wstring& path) {
  if (path.empty() || path.rfind(L"\\\\?\\", 0) == 0) return path;
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    // A path Windows cannot make full is handed over as it is, so the call reports the error.
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return toExtendedLengthPath(full);
    }
    full.resize(length);
  }
  return path;
}

bool workingDirectoryText(const std::filesystem::path& directory, std::wstring& text) {
  return classicPathText(directory, MAX_PATH - 2, text);
}

bool classicPathText(const std::filesystem::path& path, std::size_t limit, std::wstring& text) {
  const std::wstring full = withoutExtendedPrefix(systemPath(path));
  if (full.size() <= limit) {
    text = full;
    return true;
  }
  const std::wstring named = systemPath(path);
  std::wstring shortName(named.size() + 1, L'\0');
  const DWORD length = GetShortPathNameW(named.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
  if (length == 0 || length >= shortName.size()) return false;
  shortName.resize(length);
  shortName = withoutExtendedPrefix(shortName);
  if (shortName.size() > limit) return false;
  text = shortName;
  return true;
}

}  // namespace platform::win32
