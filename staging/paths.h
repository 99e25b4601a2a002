#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// The three kinds of path of the download and apply steps: manifest paths (UTF-8, '/'
// separators, relative to the installation), staged paths and installed paths.

// The local path of a manifest path below `base`: the text decoded from UTF-8 and joined
// unchanged, so that its '/' act as separators.
std::filesystem::path manifestPathToLocal(const std::filesystem::path& base, const std::string& manifestPath);

// `path` relative to `base`, computed on the text alone. Empty when the two have different
// roots; "." for the base itself. Where '\' separates (Windows), two paths that both begin
// with \\?\ and a drive letter are compared without that prefix.
std::filesystem::path relativeToBase(const std::filesystem::path& path, const std::filesystem::path& base);

// "code=<code>，category=<name>，message=<text>" for the reason fields of log lines;
// "未知文件系统错误" for code 0. Never empty.
std::string formatFsError(const std::error_code& error);
