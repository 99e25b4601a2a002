#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

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

}  // namespace platform
