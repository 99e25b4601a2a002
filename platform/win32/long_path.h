#pragma once

#include <filesystem>
#include <string>

namespace platform::win32 {

// The text under which every file-system call here names `path`: its full path as Windows
// itself makes it (GetFullPathNameW: current directory, "/", ".", "..", trailing dots), then
// always in the extended-length form, so that no call stops at 260 characters. The clean-up
// comes first because the prefix switches it off. Log lines keep using the caller's path.
std::wstring systemPath(const std::filesystem::path& path);
std::wstring systemPath(const std::wstring& path);

// The working directory to hand to CreateProcessW, which takes no extended-length form and
// at most MAX_PATH - 2 characters even in a long-path-aware process: the full path when it
// fits, else its short (8.3) form when the volume keeps short names and that fits. False when
// neither fits: the program is then not started at all rather than in a directory it did not
// ask for.
bool workingDirectoryText(const std::filesystem::path& directory, std::wstring& text);

// `path` in the classic form of at most `limit` characters: the full path when it fits, else
// its short (8.3) form when the volume keeps short names and that fits; false otherwise.
bool classicPathText(const std::filesystem::path& path, std::size_t limit, std::wstring& text);

}  // namespace platform::win32
