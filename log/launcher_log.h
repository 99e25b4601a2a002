#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The launcher's daily log: logs/kestrun-YYYYMMDD.log under the installation directory
// (its names: names/installation_layout.h),
// one line per call, flushed at once, safe to call from any thread. Until the log is
// opened (or when it cannot be), lines go to standard error.

// Creates the log directory, prunes daily files older than retentionDays, opens today's
// file for shared appending and writes the start banner and the installation directory.
void openLauncherLog(const std::filesystem::path& installDir, int retentionDays);

// Closes the file at the end of a run; later lines go to standard error again.
void closeLauncherLog();

void logLine(const char* level, const std::string& message);
void logInfo(const std::string& message);
void logWarn(const std::string& message);
void logError(const std::string& message);

// Deletes regular files named "kestrun-*.log" (case-sensitive) in logDirectory whose last
// write is strictly older than now minus retentionDays. Retention 0 or below deletes nothing.
void pruneOldLogs(const std::filesystem::path& logDirectory, int retentionDays);

// The same with the current time given as a FILETIME (100 ns units since 1601, UTC).
void pruneOldLogsAt(const std::filesystem::path& logDirectory, int retentionDays, std::int64_t nowFileTime);

// The text of one log line, line feed included, for a moment given in milliseconds since 1970.
std::string formatLogLine(std::int64_t unixMilliseconds, const char* level, std::uint32_t processId,
                          const std::string& message);
