// Starting, observing, stopping and releasing the main program, checked through the real log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "platform/text.h"
#include "process/main_program.h"
#include "tests/log/log_messages.h"
#include "tests/process/child_guard.h"
#include "tests/process/installed_child.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ChildGuard;
using testing_support::InstalledChild;
using Messages = std::vector<std::string>;

// The launcher log of one test, opened in the child's directory as in a real installation;
// messages() gives what was logged after the two opening lines.
class TestLog {
 public:
  explicit TestLog(const fs::path& installDir) : logDir_(installDir / "logs") { openLauncherLog(installDir, 30); }
  ~TestLog() { closeLauncherLog(); }
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;

  Messages messages() const {
    std::string content;
    for (const auto& entry : fs::directory_iterator(logDir_)) content += testing_support::readFile(entry.path());
    Messages all = testing_support::logMessagesWithoutChildPids(content);
    if (all.size() < 2) return all;
    return Messages(all.begin() + 2, all.end());
  }

 private:
  fs::path logDir_;
};

std::vector<platform::NativeString> nativeArguments(const std::vector<std::string>& utf8) {
  std::vector<platform::NativeString> native;
  for (const std::string& argument : utf8) native.push_back(platform::fromUtf8(argument));
  return native;
}

void waitForEnd(platform::ProcessHandle& handle) {
  std::uint32_t errorCode = 0;
  ASSERT_EQ(platform::waitForExit(*handle, 15000, errorCode), platform::WaitResult::Exited);
}

// A program started as the launcher starts an existing one, with the lines that logs first.
struct StartedExisting {
  explicit StartedExisting(const std::string& behaviour)
      : child(behaviour), log(child.directory()), handle(startExistingMainProgram(child.program(), {})) {}

  Messages startLines() const {
    return {"INFO 准备启动现有主程序：" + platform::pathToUtf8(child.program()), "INFO 现有 Vardel 进程创建成功：pid=#"};
  }

  InstalledChild child;
  TestLog log;
  platform::ProcessHandle handle;
};

TEST(FormatHex32, EightUpperCaseDigits) {
  const struct {
    std::uint32_t value;
    const char* text;
  } cases[] = {
      {0, "0x00000000"},        {3, "0x00000003"},          {259, "0x00000103"},
      {0xABCDEF, "0x00ABCDEF"}, {3221225477u, "0xC0000005"}, {0xFFFFFFFFu, "0xFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatHex32(c.value), c.text) << c.value;
  EXPECT_EQ(formatExitCodeReport(3221225477u), "3221225477 (0xC0000005)");
  EXPECT_EQ(formatSystemErrorReport(2), "2 (0x00000002)；" + platform::windowsErrorText(2));
}

TEST(StartAndObserveMainProgram, ProgramThatExitsWithinFiveSecondsIsAnError) {
  for (int code : {3, 0}) {
    InstalledChild child("exit=" + std::to_string(code) + "\n");
    TestLog log(child.directory());
    startAndObserveMainProgram(child.program(), {});
    const std::string report = std::to_string(code) + " (" + formatHex32(static_cast<std::uint32_t>(code)) + ")";
    const Messages expected = {
        "INFO 准备启动更新后的主程序：" + platform::pathToUtf8(child.program()),
        "INFO Vardel 进程创建成功：pid=#；开始观察前 5 秒启动状态",
        "ERROR Vardel 启动后 5 秒内退出：exitCode=" + report,
    };
    EXPECT_EQ(log.messages(), expected) << code;
  }
}

TEST(StartAndObserveMainProgram, ProgramStillRunningAfterFiveSecondsIsLeftRunning) {
  InstalledChild child("sleep=6000\n");
  TestLog log(child.directory());
  startAndObserveMainProgram(child.program(), nativeArguments({"--updated"}));
  const Messages expected = {
      "INFO 准备启动更新后的主程序：" + platform::pathToUtf8(child.program()),
      "INFO Vardel 进程创建成功：pid=#；开始观察前 5 秒启动状态",
      "INFO Vardel 启动后 5 秒内保持运行，启动器结束观察",
  };
  EXPECT_EQ(log.messages(), expected);
  EXPECT_TRUE(child.waitUntilDone()) << "the observation never ends the program";
}

TEST(StartMainProgram, MissingProgramIsReportedWithTheSystemError) {
  InstalledChild child("");
  const fs::path missing = child.directory() / "Missing.exe";
  const std::string report = "2 (0x00000002)；" + platform::windowsErrorText(2);
  {
    TestLog log(child.directory());
    startAndObserveMainProgram(missing, {});
    const Messages expected = {
        "INFO 准备启动更新后的主程序：" + platform::pathToUtf8(missing),
        "ERROR CreateProcessW 无法启动 Vardel：Windows错误=" + report + "；程序路径=" + platform::pathToUtf8(missing),
    };
    EXPECT_EQ(log.messages(), expected);
  }
  InstalledChild other("");
  TestLog log(other.directory());
  platform::ProcessHandle handle = startExistingMainProgram(other.directory() / "Missing.exe", {});
  EXPECT_FALSE(handle);
  const Messages expected = {
      "INFO 准备启动现有主程序：" + platform::pathToUtf8(other.directory() / "Missing.exe"),
      "ERROR CreateProcessW 无法启动现有 Vardel：Windows错误=" + report,
  };
  EXPECT_EQ(log.messages(), expected);
}

TEST(StartMainProgram, ArgumentsAreForwardedUnchangedIntoTheProgramsDirectory) {
  const std::vector<std::string> arguments = {"vardel://open?id=1", "say \"hi\"", "with space", "", "--updated"};
  for (bool observe : {false, true}) {
    InstalledChild child("");
    TestLog log(child.directory());
    if (observe) {
      startAndObserveMainProgram(child.program(), nativeArguments(arguments));
    } else {
      platform::ProcessHandle handle = startExistingMainProgram(child.program(), nativeArguments(arguments));
      ASSERT_TRUE(handle);
      ChildGuard guard(handle);
      waitForEnd(handle);
    }
    const std::vector<std::string> record = child.record();
    ASSERT_EQ(record.size(), arguments.size() + 1) << observe;
    EXPECT_TRUE(fs::equivalent(record[0].substr(4), child.directory())) << record[0];
    for (std::size_t i = 0; i < arguments.size(); ++i) EXPECT_EQ(record[i + 1], "arg=" + arguments[i]) << observe;
  }
}

TEST(ReleaseMainProgramHandle, NotesAnEndedProgram) {
  StartedExisting started("exit=5\n");
  ASSERT_TRUE(started.handle);
  ChildGuard guard(started.handle);
  waitForEnd(started.handle);
  releaseMainProgramHandle(started.handle);
  EXPECT_FALSE(started.handle);
  Messages expected = started.startLines();
  expected.push_back("WARN 释放句柄前发现 Vardel 已退出：exitCode=5 (0x00000005)");
  EXPECT_EQ(started.log.messages(), expected);
}

TEST(ReleaseMainProgramHandle, RunningProgramIsLeftAloneWithoutALine) {
  StartedExisting started("sleep=1500\n");
  ASSERT_TRUE(started.handle);
  releaseMainProgramHandle(started.handle);
  EXPECT_FALSE(started.handle);
  platform::ProcessHandle none;
  releaseMainProgramHandle(none);
  EXPECT_EQ(started.log.messages(), started.startLines());
  EXPECT_TRUE(started.child.waitUntilDone());
}

TEST(StopMainProgramBeforeUpdate, RunningProgramIsEndedAndReadsAsExitCodeZero) {
  StartedExisting started("sleep=60000\n");
  ASSERT_TRUE(started.handle);
  ChildGuard guard(started.handle);
  stopMainProgramBeforeUpdate(started.handle.get(), 15000);
  releaseMainProgramHandle(started.handle);
  Messages expected = started.startLines();
  expected.push_back("INFO 更新前已结束 Vardel，进程文件锁应已释放");
  expected.push_back("WARN 释放句柄前发现 Vardel 已退出：exitCode=0 (0x00000000)");
  EXPECT_EQ(started.log.messages(), expected);
  EXPECT_FALSE(started.child.isDone());
}

TEST(StopMainProgramBeforeUpdate, ProgramThatEndedByItselfKeepsItsOwnCode) {
  StartedExisting started("exit=7\n");
  ASSERT_TRUE(started.handle);
  ChildGuard guard(started.handle);
  waitForEnd(started.handle);
  stopMainProgramBeforeUpdate(started.handle.get(), 15000);
  releaseMainProgramHandle(started.handle);
  stopMainProgramBeforeUpdate(nullptr, 15000);
  Messages expected = started.startLines();
  expected.push_back("WARN 更新前发现 Vardel 已提前退出：exitCode=7 (0x00000007)");
  expected.push_back("WARN 释放句柄前发现 Vardel 已退出：exitCode=7 (0x00000007)");
  EXPECT_EQ(started.log.messages(), expected);
}

}  // namespace
