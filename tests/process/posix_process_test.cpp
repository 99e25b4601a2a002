// What only the Linux backend promises about child processes: exit codes of signal deaths,
// no inherited descriptors, a session of its own, byte-exact arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "platform/process.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "tests/log/log_messages.h"
#include "tests/process/child_guard.h"
#include "tests/process/installed_child.h"

namespace {

namespace fs = std::filesystem;
using platform::WaitResult;
using testing_support::ChildGuard;
using testing_support::InstalledChild;

platform::ProcessHandle start(const InstalledChild& child, const std::vector<platform::NativeString>& arguments = {}) {
  std::uint32_t errorCode = 0;
  platform::ProcessHandle handle = platform::startProcess(child.program(), arguments, child.directory(), errorCode);
  EXPECT_TRUE(handle) << "error " << errorCode;
  return handle;
}

std::uint32_t exitCodeAfterEnd(platform::ProcessHandle& handle) {
  std::uint32_t errorCode = 0;
  EXPECT_EQ(platform::waitForExit(*handle, 15000, errorCode), WaitResult::Exited);
  std::uint32_t exitCode = 999;
  EXPECT_TRUE(platform::readExitCode(*handle, exitCode, errorCode));
  return exitCode;
}

TEST(PosixChildProcess, DeathBySignalReadsAs128PlusTheSignal) {
  InstalledChild child("abort=1\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  EXPECT_EQ(exitCodeAfterEnd(handle), 128u + 6u);  // SIGABRT

  InstalledChild logged("abort=1\n");
  openLauncherLog(logged.directory(), 30);
  startAndObserveMainProgram(logged.program(), {});
  closeLauncherLog();
  std::string content;
  for (const auto& entry : fs::directory_iterator(logged.directory() / "logs")) content += testing_support::readFile(entry.path());
  const std::vector<std::string> messages = testing_support::logMessagesWithoutChildPids(content);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "ERROR Vardel 启动后 5 秒内退出：exitCode=134 (0x00000086)");
}

TEST(PosixChildProcess, TerminationAfterTheEndChangesNothing) {
  InstalledChild child("exit=4\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  EXPECT_EQ(exitCodeAfterEnd(handle), 4u);
  std::uint32_t errorCode = 0;
  // The process id may already belong to another process: nothing is signalled.
  EXPECT_TRUE(platform::terminateProcess(*handle, 0, errorCode));
  EXPECT_EQ(exitCodeAfterEnd(handle), 4u);
}

TEST(PosixChildProcess, InheritsOnlyTheStandardDescriptors) {
  InstalledChild child("fds=1\n");
  // fopen without "e" leaves the descriptor open across exec unless the start closes it.
  std::FILE* open = std::fopen((child.directory() / "held-open.txt").c_str(), "w");
  ASSERT_TRUE(open);
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  exitCodeAfterEnd(handle);
  std::fclose(open);

  int descriptors = 0;
  for (const std::string& line : child.record()) {
    if (line.rfind("fd=", 0) != 0) continue;
    ++descriptors;
    std::istringstream parts(line.substr(3));
    int number = -1;
    std::string target;
    parts >> number >> target;
    if (number <= 2) continue;
    // Besides 0, 1 and 2 only the child's own files may be open: its record and the listing.
    const bool listing = target.rfind("/proc/", 0) == 0 && target.size() > 3 && target.substr(target.size() - 3) == "/fd";
    EXPECT_TRUE(listing || target == (child.directory() / "child_record.txt").string()) << line;
  }
  EXPECT_GE(descriptors, 1);
}

TEST(PosixChildProcess, RunsInASessionOfItsOwn) {
  InstalledChild child("stat=1\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  const std::uint32_t pid = platform::processId(*handle);
  exitCodeAfterEnd(handle);
  std::string stat;
  for (const std::string& line : child.record()) {
    if (line.rfind("stat=", 0) == 0) stat = line.substr(5);
  }
  // Fields after the command name: state, parent, process group, session.
  const std::size_t close = stat.rfind(')');
  ASSERT_NE(close, std::string::npos) << stat;
  std::istringstream fields(stat.substr(close + 1));
  std::string state;
  long parent = 0, group = 0, session = 0;
  fields >> state >> parent >> group >> session;
  EXPECT_EQ(session, static_cast<long>(pid));
  EXPECT_EQ(group, static_cast<long>(pid));
}

TEST(PosixChildProcess, ArgumentsAreBytesPassedAsTheyAre) {
  InstalledChild child("");
  const std::vector<std::string> arguments = {
      "back\\slash\\", "\\\"", "中文参数", "$HOME", "*", "'single'", "a;b|c&d", "  ", "\xFF raw byte",
  };
  platform::ProcessHandle handle = start(child, arguments);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  exitCodeAfterEnd(handle);
  const std::vector<std::string> record = child.record();
  ASSERT_EQ(record.size(), arguments.size() + 1);
  for (std::size_t i = 0; i < arguments.size(); ++i) EXPECT_EQ(record[i + 1], "arg=" + arguments[i]);
}

TEST(PosixChildProcess, RelativeProgramPathIsTheCallersNotTheWorkingDirectorys) {
  InstalledChild child("exit=6\n");
  const fs::path previous = fs::current_path();
  fs::current_path(child.directory().parent_path());
  const fs::path relative = child.directory().filename() / child.program().filename();
  std::uint32_t errorCode = 0;
  platform::ProcessHandle handle = platform::startProcess(relative, {}, child.directory(), errorCode);
  fs::current_path(previous);
  ASSERT_TRUE(handle) << errorCode;
  ChildGuard guard(handle);
  EXPECT_EQ(exitCodeAfterEnd(handle), 6u);
}

TEST(PosixChildProcess, StartErrorsAreErrnoValues) {
  InstalledChild child("");
  testing_support::writeFile(child.directory() / "not-executable", "#!/bin/sh\n");
  fs::permissions(child.directory() / "not-executable", fs::perms(0644));
  std::uint32_t errorCode = 0;
  EXPECT_FALSE(platform::startProcess(child.directory() / "not-executable", {}, child.directory(), errorCode));
  EXPECT_EQ(errorCode, 13u);  // EACCES
  EXPECT_EQ(formatSystemErrorReport(errorCode), "13 (0x0000000D)；Permission denied");

  EXPECT_FALSE(platform::startProcess(child.program(), {}, child.directory() / "missing", errorCode));
  EXPECT_EQ(errorCode, 2u);
  EXPECT_EQ(formatSystemErrorReport(errorCode), "2 (0x00000002)；No such file or directory");
}

// Found by its executable, named through a link or not; another copy of the program is not it.
TEST(PosixChildProcess, RunningProgramIsFoundByItsExecutableAndEnded) {
  InstalledChild child("sleep=60000\n");
  InstalledChild other("");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  fs::create_directory_symlink(child.directory(), other.directory() / "linked");
  EXPECT_TRUE(platform::openProcessesRunning(other.program()).empty());
  std::vector<platform::ProcessHandle> found =
      platform::openProcessesRunning(other.directory() / "linked" / child.program().filename());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(platform::processId(*found.front()), platform::processId(*handle));
  std::uint32_t errorCode = 0;
  EXPECT_EQ(platform::waitForExit(*found.front(), 0, errorCode), WaitResult::TimedOut);
  ASSERT_TRUE(platform::terminateProcess(*found.front(), 1, errorCode)) << errorCode;
  EXPECT_EQ(platform::waitForExit(*found.front(), 15000, errorCode), WaitResult::Exited);
  EXPECT_EQ(exitCodeAfterEnd(handle), 128u + 9u);  // SIGKILL, sent by no terminateProcess of the parent's
}

}  // namespace
