#pragma once
// A plain reference for how Windows compares names: the C library's UTF-8 decoder (C.UTF-8)
// and towupper, one character at a time.
#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

inline std::wstring referenceFold(std::string name) {
  static const bool localeSet = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
  if (!localeSet) __builtin_trap();
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  std::wstring folded;
  std::mbstate_t state{};
  for (std::size_t at = 0; at < name.size();) {
    wchar_t c = 0;
    std::size_t length = std::mbrtowc(&c, name.data() + at, name.size() - at, &state);
    if (length == 0) length = 1;  // NUL
    // Invalid or cut short; the C library also takes the old forms beyond U+10FFFF.
    if (length > name.size() - at || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      state = {};
      c = 0xFFFD;
      length = 1;
    }
    at += length;
    if (c <= 0xFFFF) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    if (c == 0xFFFD && !folded.empty() && folded.back() == 0xFFFD) continue;
    folded += c;
  }
  return folded;
}
