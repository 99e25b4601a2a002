#include "tests/windows/child_program.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/environment.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace windows_tests {

std::filesystem::path childProgramPath() {
  std::filesystem::path self;
  EXPECT_TRUE(platform::ownExecutablePath(self));
  return self.parent_path() / "kestrun_windows_child.exe";
}

std::uint32_t runChild(const std::vector<platform::NativeString>& arguments,
                       const std::filesystem::path& workingDirectory) {
  std::uint32_t errorCode = 0;
  platform::ProcessHandle child = platform::startProcess(childProgramPath(), arguments, workingDirectory, errorCode);
  EXPECT_TRUE(child) << "cannot start the child program, error " << errorCode;
  if (!child) return 0xFFFFFFFFu;
  EXPECT_EQ(platform::waitForExit(*child, 60000, errorCode), platform::WaitResult::Exited);
  std::uint32_t exitCode = 0xFFFFFFFFu;
  EXPECT_TRUE(platform::readExitCode(*child, exitCode, errorCode)) << errorCode;
  return exitCode;
}

std::vector<std::string> readNulSeparated(const std::filesystem::path& file) {
  const std::string content = testing_support::readFile(file);
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end = content.find('\0'); end != std::string::npos; end = content.find('\0', start)) {
    parts.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(start, content.size()) << "the last string has no NUL";
  return parts;
}

std::vector<LogEntry> readLauncherLog(const std::filesystem::path& installDir) {
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(installDir / "logs")) files.push_back(item.path());
  EXPECT_EQ(files.size(), 1u);
  std::vector<LogEntry> entries;
  if (files.empty()) return entries;
  std::istringstream lines(testing_support::readFile(files.front()));
  std::string line;
  while (std::getline(lines, line)) {
    // [2025-03-01 08:05:09.007] [WARN] [pid=4120] message
    const std::size_t levelStart = line.find("] [") + 3;
    const std::size_t levelEnd = line.find(']', levelStart);
    const std::size_t pidStart = line.find("[pid=", levelEnd) + 5;
    const std::size_t pidEnd = line.find("] ", pidStart);
    EXPECT_NE(pidEnd, std::string::npos) << line;
    if (pidEnd == std::string::npos) continue;
    entries.push_back(LogEntry{line.substr(levelStart, levelEnd - levelStart),
                               static_cast<std::uint32_t>(std::stoul(line.substr(pidStart, pidEnd - pidStart))),
                               line.substr(pidEnd + 2)});
  }
  return entries;
}

}  // namespace windows_tests
