// Starting, waiting for, reading and ending real child processes, and the main-program
// operations on top of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/child_program.h"

namespace {

using platform::WaitResult;
using windows_tests::childProgramPath;
using windows_tests::LogEntry;
using windows_tests::readLauncherLog;

constexpr int kGenerousWaitMs = 60000;

platform::ProcessHandle startChild(const std::vector<std::wstring>& arguments, const std::filesystem::path& directory) {
  std::uint32_t errorCode = 0;
  platform::ProcessHandle child = platform::startProcess(childProgramPath(), arguments, directory, errorCode);
  EXPECT_TRUE(child) << "error " << errorCode;
  EXPECT_EQ(errorCode, 0u);
  return child;
}

// Closes the log when a test ends, so later tests find it closed.
struct LauncherLogSession {
  LauncherLogSession(const std::filesystem::path& installDir) { openLauncherLog(installDir, 30); }
  ~LauncherLogSession() { closeLauncherLog(); }
};

std::vector<std::pair<std::string, std::string>> levelsAndMessages(const std::vector<LogEntry>& entries) {
  std::vector<std::pair<std::string, std::string>> result;
  // The first two lines are the banner and the installation directory.
  for (std::size_t index = 2; index < entries.size(); ++index) {
    result.emplace_back(entries[index].level, entries[index].message);
  }
  return result;
}

TEST(StartProcess, ExitCodesComeBack) {
  testing_support::TempDir dir;
  for (std::uint32_t code : {0u, 3u, 3221225477u}) {
    platform::ProcessHandle child = startChild({L"exit", std::to_wstring(code)}, dir.path());
    ASSERT_TRUE(child);
    EXPECT_NE(platform::processId(*child), 0u);
    std::uint32_t errorCode = 0;
    ASSERT_EQ(platform::waitForExit(*child, kGenerousWaitMs, errorCode), WaitResult::Exited) << code;
    std::uint32_t exitCode = 12345;
    ASSERT_TRUE(platform::readExitCode(*child, exitCode, errorCode));
    EXPECT_EQ(exitCode, code);
  }
}

TEST(StartProcess, MissingProgramReportsFileNotFound) {
  testing_support::TempDir dir;
  std::uint32_t errorCode = 0;
  platform::ProcessHandle child = platform::startProcess(dir / "Vardel.exe", {}, dir.path(), errorCode);
  EXPECT_FALSE(child);
  EXPECT_EQ(errorCode, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

// CreateProcessW takes no working directory past MAX_PATH - 2 characters: a longer one goes as
// its short form, and one whose short form is still too long refuses the start.
TEST(StartProcess, LongWorkingDirectoryGoesAsItsShortFormOrRefusesTheStart) {
  testing_support::TempDir dir;
  const std::filesystem::path longNames = dir.path() / std::wstring(150, L'L') / std::wstring(150, L'M');
  std::filesystem::path deepShortNames = dir.path();
  for (int level = 0; level < 140; ++level) deepShortNames /= L"d";
  ASSERT_FALSE(platform::createDirectories(longNames));
  ASSERT_FALSE(platform::createDirectories(deepShortNames));
  EXPECT_EQ(windows_tests::runChild({L"argv", L"x"}, longNames), 0u);
  EXPECT_EQ(windows_tests::readNulSeparated(longNames / L"argv.txt"), (std::vector<std::string>{"argv", "x"}));
  std::uint32_t errorCode = 0;
  EXPECT_FALSE(platform::startProcess(childProgramPath(), {L"exit", L"0"}, deepShortNames, errorCode));
  EXPECT_EQ(errorCode, static_cast<std::uint32_t>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(StartProcess, RunningChildIsStillActiveUntilTerminated) {
  testing_support::TempDir dir;
  platform::ProcessHandle child = startChild({L"sleep", L"600000"}, dir.path());
  ASSERT_TRUE(child);
  std::uint32_t errorCode = 0;
  EXPECT_EQ(platform::waitForExit(*child, 0, errorCode), WaitResult::TimedOut);
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(platform::readExitCode(*child, exitCode, errorCode));
  EXPECT_EQ(exitCode, static_cast<std::uint32_t>(STILL_ACTIVE));

  ASSERT_TRUE(platform::terminateProcess(*child, 0, errorCode)) << errorCode;
  ASSERT_EQ(platform::waitForExit(*child, kGenerousWaitMs, errorCode), WaitResult::Exited);
  ASSERT_TRUE(platform::readExitCode(*child, exitCode, errorCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST(StartProcess, ClosingTheHandleLeavesTheProcessRunning) {
  testing_support::TempDir dir;
  platform::ProcessHandle child = startChild({L"sleep", L"600000"}, dir.path());
  ASSERT_TRUE(child);
  const DWORD id = platform::processId(*child);
  child.reset();
  HANDLE reopened = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  ASSERT_NE(reopened, nullptr) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(reopened, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(reopened, 0);
  WaitForSingleObject(reopened, kGenerousWaitMs);
  CloseHandle(reopened);
}

// Found by its executable whatever the letter case it is named in; another program is not it.
TEST(StartProcess, RunningProgramIsFoundByItsExecutableAndEnded) {
  testing_support::TempDir dir;
  platform::ProcessHandle child = startChild({L"sleep", L"600000"}, dir.path());
  ASSERT_TRUE(child);
  EXPECT_TRUE(platform::openProcessesRunning(dir / "kestrun_windows_child.exe").empty());
  std::wstring upper = childProgramPath().native();
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::vector<platform::ProcessHandle> found = platform::openProcessesRunning(upper);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(platform::processId(*found.front()), platform::processId(*child));
  std::uint32_t errorCode = 0;
  ASSERT_TRUE(platform::terminateProcess(*found.front(), 7, errorCode)) << errorCode;
  ASSERT_EQ(platform::waitForExit(*found.front(), kGenerousWaitMs, errorCode), WaitResult::Exited);
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(platform::readExitCode(*child, exitCode, errorCode));
  EXPECT_EQ(exitCode, 7u);
}

TEST(MainProgramObservation, ProgramStillRunningAfterFiveSecondsIsLeftRunning) {
  testing_support::TempDir dir;
  const std::filesystem::path program = childProgramPath();
  {
    LauncherLogSession log(dir.path());
    startAndObserveMainProgram(program, {L"sleep", L"600000"});
  }
  const auto lines = levelsAndMessages(readLauncherLog(dir.path()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].first, "INFO");
  EXPECT_EQ(lines[0].second, "准备启动更新后的主程序：" + platform::pathToUtf8(program));

  const std::string created = "Vardel 进程创建成功：pid=";
  const std::string observing = "；开始观察前 5 秒启动状态";
  EXPECT_EQ(lines[1].first, "INFO");
  ASSERT_EQ(lines[1].second.rfind(created, 0), 0u) << lines[1].second;
  ASSERT_GT(lines[1].second.size(), created.size() + observing.size());
  EXPECT_EQ(lines[1].second.substr(lines[1].second.size() - observing.size()), observing);
  const DWORD id = static_cast<DWORD>(std::stoul(lines[1].second.substr(created.size())));

  EXPECT_EQ(lines[2], (std::pair<std::string, std::string>("INFO", "Vardel 启动后 5 秒内保持运行，启动器结束观察")));

  // The observation keeps no handle; the program runs on until this test ends it.
  HANDLE running = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  ASSERT_NE(running, nullptr) << "the observed program is no longer running";
  EXPECT_EQ(WaitForSingleObject(running, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(running, 0);
  WaitForSingleObject(running, kGenerousWaitMs);
  CloseHandle(running);
}

TEST(MainProgramStop, TerminatedProgramEndsWithExitCodeZero) {
  testing_support::TempDir dir;
  {
    LauncherLogSession log(dir.path());
    platform::ProcessHandle program = startExistingMainProgram(childProgramPath(), {L"sleep", L"600000"});
    ASSERT_TRUE(program);
    stopMainProgramBeforeUpdate(program.get(), 15000);
    releaseMainProgramHandle(program);
    EXPECT_FALSE(program);
  }
  const auto lines = levelsAndMessages(readLauncherLog(dir.path()));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], (std::pair<std::string, std::string>("INFO", "更新前已结束 Vardel，进程文件锁应已释放")));
  EXPECT_EQ(lines[3],
            (std::pair<std::string, std::string>("WARN", "释放句柄前发现 Vardel 已退出：exitCode=0 (0x00000000)")));
}

TEST(MainProgramStart, MissingProgramLogsWindowsErrorTwo) {
  testing_support::TempDir dir;
  const std::filesystem::path program = dir / "Vardel.exe";
  {
    LauncherLogSession log(dir.path());
    EXPECT_FALSE(startExistingMainProgram(program, {}));
  }
  const auto lines = levelsAndMessages(readLauncherLog(dir.path()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].first, "ERROR");
  EXPECT_EQ(lines[1].second, "CreateProcessW 无法启动现有 Vardel：Windows错误=2 (0x00000002)；" +
                                 platform::windowsErrorText(ERROR_FILE_NOT_FOUND));
}

}  // namespace
