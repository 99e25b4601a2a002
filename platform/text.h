#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/native_string.h"

namespace platform {

// Native text to UTF-8. An empty input or a failed conversion gives an empty string.
std::string toUtf8(const NativeString& text);

// UTF-8 to native text, rejecting invalid sequences: false (and an empty result) on any.
bool fromUtf8Strict(const std::string& utf8, NativeString& result);

// UTF-8 to native text; an invalid sequence becomes replacement characters on Windows.
NativeString fromUtf8(const std::string& utf8);

// Paths in log lines and file names of manifests.
std::string pathToUtf8(const std::filesystem::path& path);
std::filesystem::path pathFromUtf8(const std::string& utf8);

// The system's own message for an error code (a Windows error code on Windows, an errno
// value elsewhere), with trailing line breaks, blanks and full stops removed; "未知系统错误"
// when the system has no text for it. Never empty.
std::string windowsErrorText(std::uint32_t code);

// The same trimming and fallback for any message, shared by both backends.
std::string trimSystemMessage(std::string message);

// The text of an error code for log lines, in UTF-8: the system's own text for a system
// error (the library's message() is in the local code page on Windows, which would garble a
// Chinese system's text), else the category's message, trimmed the same way.
std::string errorCodeText(const std::error_code& error);

// `text` without the blanks, tabs and line ends at either end.
inline std::string trimmedBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

inline bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
inline bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace platform
