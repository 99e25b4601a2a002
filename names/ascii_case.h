#pragma once

#include <string>

namespace names {

// ASCII letters in lower case, every other byte as it is: names compared the way Windows
// compares ASCII file names, and hexadecimal digests.
inline char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline std::string lowerAscii(std::string text) {
  for (char& c : text) c = lowerAscii(c);
  return text;
}

// The same in upper case: short names, and keywords of proxy settings.
inline char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline std::string upperAscii(std::string text) {
  for (char& c : text) c = upperAscii(c);
  return text;
}

}  // namespace names
