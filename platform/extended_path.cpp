#include "platform/extended_path.h"

#include <array>

namespace platform {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool hasReservedElement(std::wstring_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    if (isReservedDeviceName(path.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

std::wstring withBackslashes(std::wstring_view path) {
  std::wstring result(path);
  for (wchar_t& c : result) {
    if (c == L'/') c = L'\\';
  }
  return result;
}

}  // namespace

bool isReservedDeviceName(std::wstring_view element) {
  // The stem counts: "nul.txt" and "CON " name the devices as well.
  std::size_t stemEnd = element.find(L'.');
  std::wstring_view stem = element.substr(0, stemEnd);
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  std::wstring name;
  for (wchar_t c : stem) name += upper(c);
  static const std::array<std::wstring_view, 4> plain = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (std::wstring_view reserved : plain) {
    if (name == reserved) return true;
  }
  if (name.size() != 4 || (!startsWith(name, L"COM") && !startsWith(name, L"LPT"))) return false;
  const wchar_t digit = name[3];
  return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

std::wstring toExtendedLengthPath(std::wstring_view path) {
  if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\") || startsWith(path, L"\\??\\")) {
    return std::wstring(path);
  }
  if (hasReservedElement(path)) return std::wstring(path);
  const bool drivePath = path.size() >= 3 && isDriveLetter(path[0]) && path[1] == L':' && isSeparator(path[2]);
  if (drivePath) return L"\\\\?\\" + withBackslashes(path);
  // A share needs both a server and a share name after the two leading separators.
  const bool sharePath = path.size() > 2 && isSeparator(path[0]) && isSeparator(path[1]) && !isSeparator(path[2]);
  if (sharePath) {
    const std::size_t serverEnd = path.find_first_of(L"\\/", 2);
    if (serverEnd != std::wstring_view::npos && serverEnd + 1 < path.size() && !isSeparator(path[serverEnd + 1])) {
      return L"\\\\?\\UNC\\" + withBackslashes(path.substr(2));
    }
  }
  return std::wstring(path);
}

std::wstring withoutExtendedPrefix(std::wstring_view path) {
  if (startsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + std::wstring(path.substr(8));
  const bool drivePath = path.size() >= 6 && startsWith(path, L"\\\\?\\") && isDriveLetter(path[4]) && path[5] == L':';
  if (drivePath) return std::wstring(path.substr(4));
  return std::wstring(path);
}

}  // namespace platform
