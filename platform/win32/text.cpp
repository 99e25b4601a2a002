#include "platform/text.h"

#include <windows.h>

#include <climits>

#include "platform/win32/win32_handles.h"

namespace platform {

std::string toUtf8(const NativeString& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int wideLength = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string result(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, result.data(), length, nullptr, nullptr) <= 0) {
    return std::string();
  }
  return result;
}

namespace {

bool convertFromUtf8(const std::string& utf8, DWORD flags, NativeString& result) {
  result.clear();
  if (utf8.empty()) return true;
  if (utf8.size() > INT_MAX) return false;
  const int narrowLength = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, flags, utf8.data(), narrowLength, nullptr, 0);
  if (length <= 0) return false;
  result.assign(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, flags, utf8.data(), narrowLength, result.data(), length) <= 0) {
    result.clear();
    return false;
  }
  return true;
}

}  // namespace

bool fromUtf8Strict(const std::string& utf8, NativeString& result) {
  return convertFromUtf8(utf8, MB_ERR_INVALID_CHARS, result);
}

NativeString fromUtf8(const std::string& utf8) {
  NativeString result;
  convertFromUtf8(utf8, 0, result);
  return result;
}

std::string pathToUtf8(const std::filesystem::path& path) { return toUtf8(path.native()); }

std::filesystem::path pathFromUtf8(const std::string& utf8) { return std::filesystem::path(fromUtf8(utf8)); }

std::string windowsErrorText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  win32::LocalMemory<wchar_t> owner(buffer);
  if (length == 0 || buffer == nullptr) return trimSystemMessage(std::string());
  // The trimmed characters are all ASCII, so trimming the UTF-8 form gives the same text.
  return trimSystemMessage(toUtf8(NativeString(buffer, length)));
}

}  // namespace platform
