#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/native_string.h"

// How the installed copy of a manifest entry differs, kept small for a check of many entries:
// the kind, and for a file the local size or time that the report names.
enum class Difference : std::uint8_t { None, Missing, Size, Time, NotALink, LinkTarget };

// A file entry: one query of the installed item at installDir joined with `path`. `local`
// receives the local size or time for Size and Time. `localPath` is working space that a
// caller may reuse from entry to entry.
Difference compareInstalledFile(const std::filesystem::path& installDir, std::string_view path, std::int64_t size,
                                std::int64_t mtime, std::int64_t& local, platform::NativeString& localPath);

// A link entry; `localTarget` receives the installed link's target for LinkTarget ("?" when
// it cannot be read).
Difference compareInstalledLink(const std::filesystem::path& installDir, std::string_view path,
                                std::string_view target, std::string& localTarget);

// The report's words for a difference, appended to `text`.
void appendDifferenceText(std::string& text, Difference difference, std::int64_t local, std::int64_t size,
                          std::int64_t mtime, std::string_view localTarget, std::string_view target);
