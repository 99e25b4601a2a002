#include "platform/win32/link_target.h"

namespace platform::win32 {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Length of the root name at the start of `path`, 0 when it has none.
std::size_t rootNameLength(const NativeString& path) {
  const std::size_t size = path.size();
  if (size >= 2 && isAsciiLetter(path[0]) && path[1] == L':') return 2;
  // Device prefixes \\?\, \\.\ and \??\: the root name is their first three characters.
  if (size >= 4 && isSeparator(path[0]) && isSeparator(path[3]) &&
      ((isSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) || (path[1] == L'?' && path[2] == L'?'))) {
    return 3;
  }
  // \\server: exactly two separators, then the server name up to the next separator.
  if (size >= 3 && isSeparator(path[0]) && isSeparator(path[1]) && !isSeparator(path[2])) {
    std::size_t end = 3;
    while (end < size && !isSeparator(path[end])) ++end;
    return end;
  }
  return 0;
}

}  // namespace

NativeString windowsLinkTarget(const NativeString& target) {
  const std::size_t rootEnd = rootNameLength(target);
  NativeString result;
  result.reserve(target.size());
  for (std::size_t index = 0; index < target.size(); ++index) {
    const wchar_t c = target[index];
    if (!isSeparator(c)) {
      result += c;
    } else if (index < rootEnd) {
      result += L'\\';
    } else if (result.size() <= rootEnd || result.back() != L'\\') {
      // After the root name a run of separators becomes one.
      result += L'\\';
    }
  }
  return result;
}

}  // namespace platform::win32
