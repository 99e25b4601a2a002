// The process operations of the platform layer, on the real test child.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/process.h"
#include "tests/process/child_guard.h"
#include "tests/process/installed_child.h"

namespace {

using platform::WaitResult;
using testing_support::ChildGuard;
using testing_support::InstalledChild;

platform::ProcessHandle start(const InstalledChild& child, const std::vector<platform::NativeString>& arguments = {}) {
  std::uint32_t errorCode = 12345;
  platform::ProcessHandle handle = platform::startProcess(child.program(), arguments, child.directory(), errorCode);
  EXPECT_TRUE(handle) << "error " << errorCode;
  return handle;
}

TEST(ChildProcess, ExitCodeOfANormalExit) {
  for (int code : {0, 3, 42, 255}) {
    InstalledChild child("exit=" + std::to_string(code) + "\n");
    platform::ProcessHandle handle = start(child);
    ASSERT_TRUE(handle);
    ChildGuard guard(handle);
    EXPECT_NE(platform::processId(*handle), 0u);
    EXPECT_NE(platform::processId(*handle), platform::currentProcessId());
    std::uint32_t errorCode = 0;
    ASSERT_EQ(platform::waitForExit(*handle, 15000, errorCode), WaitResult::Exited) << code;
    std::uint32_t exitCode = 999;
    ASSERT_TRUE(platform::readExitCode(*handle, exitCode, errorCode));
    EXPECT_EQ(exitCode, static_cast<std::uint32_t>(code));
    // Asking again gives the same answer.
    EXPECT_EQ(platform::waitForExit(*handle, 0, errorCode), WaitResult::Exited);
    ASSERT_TRUE(platform::readExitCode(*handle, exitCode, errorCode));
    EXPECT_EQ(exitCode, static_cast<std::uint32_t>(code));
  }
}

TEST(ChildProcess, RunningChildTimesOutReadsStillActiveAndEndsWithTheGivenCode) {
  InstalledChild child("sleep=60000\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  std::uint32_t errorCode = 0;
  EXPECT_EQ(platform::waitForExit(*handle, 0, errorCode), WaitResult::TimedOut);
  EXPECT_EQ(platform::waitForExit(*handle, 50, errorCode), WaitResult::TimedOut);
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(platform::readExitCode(*handle, exitCode, errorCode));
  EXPECT_EQ(exitCode, 259u);

  ASSERT_TRUE(platform::terminateProcess(*handle, 9, errorCode)) << errorCode;
  ASSERT_EQ(platform::waitForExit(*handle, 15000, errorCode), WaitResult::Exited);
  ASSERT_TRUE(platform::readExitCode(*handle, exitCode, errorCode));
  EXPECT_EQ(exitCode, 9u);
  EXPECT_FALSE(child.isDone());
}

TEST(ChildProcess, NegativeTimeOutWaitsForTheEnd) {
  InstalledChild child("sleep=300\nexit=2\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  std::uint32_t errorCode = 0;
  ASSERT_EQ(platform::waitForExit(*handle, -1, errorCode), WaitResult::Exited);
  EXPECT_TRUE(child.isDone());
}

TEST(ChildProcess, StartFailuresGiveTheSystemError) {
  InstalledChild child("");
  std::uint32_t errorCode = 0;
  EXPECT_FALSE(platform::startProcess(child.directory() / "missing-program", {}, child.directory(), errorCode));
  EXPECT_EQ(errorCode, 2u);

  errorCode = 0;
  EXPECT_FALSE(platform::startProcess(child.program(), {}, child.directory() / "missing-directory", errorCode));
  EXPECT_NE(errorCode, 0u);
  EXPECT_FALSE(std::filesystem::exists(child.directory() / "child_record.txt"));
}

TEST(ChildProcess, ClosingTheHandleLeavesTheChildRunning) {
  InstalledChild child("sleep=700\n");
  platform::ProcessHandle handle = start(child);
  ASSERT_TRUE(handle);
  handle.reset();
  EXPECT_TRUE(child.waitUntilDone());
}

TEST(ChildProcess, ArgumentsArriveUnchangedInTheGivenDirectory) {
  InstalledChild child("");
  const std::vector<std::string> utf8 = {"vardel://open?id=1", "say \"hi\"", "with space", "", "--updated"};
  std::vector<platform::NativeString> native;
  for (const std::string& argument : utf8) native.push_back(std::filesystem::u8path(argument).native());
  platform::ProcessHandle handle = start(child, native);
  ASSERT_TRUE(handle);
  ChildGuard guard(handle);
  std::uint32_t errorCode = 0;
  ASSERT_EQ(platform::waitForExit(*handle, 15000, errorCode), WaitResult::Exited);

  const std::vector<std::string> record = child.record();
  ASSERT_EQ(record.size(), utf8.size() + 1);
  ASSERT_EQ(record[0].rfind("cwd=", 0), 0u);
  EXPECT_TRUE(std::filesystem::equivalent(record[0].substr(4), child.directory())) << record[0];
  for (std::size_t i = 0; i < utf8.size(); ++i) EXPECT_EQ(record[i + 1], "arg=" + utf8[i]);
}

TEST(ChildProcess, OutlivesTheProcessThatStartedIt) {
  InstalledChild child("sleep=1000\n");
  std::filesystem::path own;
  ASSERT_TRUE(platform::ownExecutablePath(own));
  const std::filesystem::path spawner = own.parent_path() / ("kestrun_test_spawner" + own.extension().string());
  std::uint32_t errorCode = 0;
  platform::ProcessHandle launcher =
      platform::startProcess(spawner, {child.program().native(), std::filesystem::u8path("after spawn").native()},
                             own.parent_path(), errorCode);
  ASSERT_TRUE(launcher) << errorCode;
  ChildGuard guard(launcher);
  ASSERT_EQ(platform::waitForExit(*launcher, 15000, errorCode), WaitResult::Exited);
  std::uint32_t exitCode = 99;
  ASSERT_TRUE(platform::readExitCode(*launcher, exitCode, errorCode));
  ASSERT_EQ(exitCode, 0u) << "the spawner could not start the child";

  // The spawner is gone; its child finishes its second of sleep all the same.
  EXPECT_TRUE(child.waitUntilDone());
  const std::vector<std::string> record = child.record();
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record[1], "arg=after spawn");
}

}  // namespace
