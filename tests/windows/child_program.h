#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/native_string.h"

namespace windows_tests {

// kestrun_windows_child.exe, which the build puts next to the test program.
std::filesystem::path childProgramPath();

// Starts the child with `arguments` in `workingDirectory` through platform::startProcess,
// waits up to a minute for it and returns its exit code; a failure is recorded in the test.
std::uint32_t runChild(const std::vector<platform::NativeString>& arguments,
                       const std::filesystem::path& workingDirectory);

// The strings of a file the child wrote: UTF-8 texts, each ended by a NUL byte.
std::vector<std::string> readNulSeparated(const std::filesystem::path& file);

// One line of the launcher log, split into its level and its message.
struct LogEntry {
  std::string level;
  std::uint32_t processId;
  std::string message;
};

// Every line of the daily log file under installDir\logs (there is exactly one).
std::vector<LogEntry> readLauncherLog(const std::filesystem::path& installDir);

}  // namespace windows_tests
