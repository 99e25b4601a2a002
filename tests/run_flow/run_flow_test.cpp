// Runs the launcher's frame (built without a server) in a temporary installation and
// checks the log it writes, line by line.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/run_flow/launcher_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;
using testing_support::kWindowsBuild;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// Waits for `file` to end with a line break: a program start under Wine takes a second or two
// on a quiet machine, and much longer on a busy one.
bool waitForLine(const fs::path& file) {
  return testing_support::waitUntil(
      [&] {
        const std::string text = readFile(file);
        return !text.empty() && text.back() == '\n';
      },
      60000);
}

struct Installation {
  TempDir root;
  fs::path dir = root / "Fennick app";
  fs::path home = root / "home";
  run_flow::LauncherRun result;

  Installation() {
    fs::create_directories(dir);
    fs::copy_file(NO_SERVER_LAUNCHER, dir / run_flow::kLauncherName);
  }

  // The recording main program, which stays until told to stop (see stopMainProgram).
  void addMainProgram() {
    fs::copy_file(RECORDING_MAIN_PROGRAM, dir / "Vardel.exe");
    writeFile(dir / "stay_seconds.txt", "30");
  }

  // Asks a started main program to end and waits for it, so that nothing outlives the test
  // and the installation can be removed.
  bool stopMainProgram() {
    if (!fs::exists(dir / "calls.txt")) return true;
    writeFile(dir / "stop.txt", "");
    return waitForLine(dir / "ended.txt");
  }

  ~Installation() { stopMainProgram(); }

  // Runs the launcher with a private home, so that nothing outside the test's own
  // directories is written. Returns whether it ran to its end.
  bool run(const std::vector<std::string>& arguments) {
    result = run_flow::runLauncher(dir / run_flow::kLauncherName, arguments, root.path(), home, {});
    EXPECT_EQ(result.failure, "");
    return result.failure.empty();
  }

  std::string path(const fs::path& item) const { return platform::pathToUtf8(item); }

  // The log's messages with their level, without time stamp and process id.
  std::vector<std::string> logMessages() const {
    std::vector<std::string> messages;
    for (const auto& item : fs::directory_iterator(dir / "logs")) {
      std::istringstream lines(readFile(item.path()));
      static const std::regex prefix(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(INFO|WARN|ERROR)\] \[pid=\d+\] )");
      for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(line, match, prefix)) << line;
        messages.push_back(match[1].str() + " " + match.suffix().str());
      }
    }
    return messages;
  }
};

const std::string kPlatformLine = std::string("INFO 运行平台：") + (kWindowsBuild ? "Windows " : "Linux ");

std::string pidFrom(const std::string& message) { return message.substr(message.find("pid=") + 4); }

TEST(NoServerRunFlow, PresentProgramIsStartedAndKeepsRunning) {
  Installation install;
  install.addMainProgram();
  ASSERT_TRUE(install.run({"vardel://open?id=1", "say \"hi\"", ""}));
  EXPECT_EQ(install.result.exitCode, 0u);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 8u) << install.result.transcript;
  EXPECT_EQ(log[0], "INFO ========== Kestrun 启动 ==========");
  EXPECT_EQ(log[1], "INFO 安装目录：" + install.path(install.dir));
  EXPECT_EQ(log[2].rfind(kPlatformLine, 0), 0u) << log[2];
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：存在");
  EXPECT_EQ(log[4], "INFO 准备启动现有主程序：" + install.path(install.dir / "Vardel.exe"));
  EXPECT_TRUE(std::regex_match(log[5], std::regex("INFO 现有 Vardel 进程创建成功：pid=\\d+"))) << log[5];
  EXPECT_EQ(log[6], "WARN 未配置更新服务器地址，跳过更新检查，现有 Vardel 继续运行");
  EXPECT_EQ(log[7], "INFO Kestrun 本次运行结束");
  EXPECT_EQ(install.result.transcript, "");

  // The program outlived the launcher; it is the process the log names, and it recorded its
  // arguments unchanged.
  ASSERT_TRUE(waitForLine(install.dir / "pid.txt"));
  EXPECT_EQ(readFile(install.dir / "pid.txt"), pidFrom(log[5]) + "\n");
  EXPECT_FALSE(fs::exists(install.dir / "ended.txt")) << "the main program must keep running after the launcher exits";
  EXPECT_TRUE(install.stopMainProgram());
  EXPECT_EQ(readFile(install.dir / "calls.txt"),
            "cwd=" + install.path(install.dir) + "\narg=vardel://open?id=1\narg=say \"hi\"\narg=\nend\n");
}

TEST(NoServerRunFlow, MissingProgramReportsMissingServerAddress) {
  Installation install;
  if (const std::string gap = run_flow::warningBoxGap(); !gap.empty()) GTEST_SKIP() << gap;
  ASSERT_TRUE(install.run({}));
  EXPECT_EQ(install.result.exitCode, 0u);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：不存在（首次引导）");
  EXPECT_EQ(log[4], "ERROR 首次引导失败：未配置更新服务器地址");
  EXPECT_EQ(log[5], "INFO Kestrun 本次运行结束");
  // The warning box's caption and text (headless on Linux: on standard error).
  EXPECT_NE(install.result.transcript.find("The application is missing, and the update server address could not be "
                                           "determined. Check Kestrun.ini."),
            std::string::npos)
      << install.result.transcript;
}

TEST(NoServerRunFlow, UnstartableProgramShowsStartFailedAndStillEnds) {
  Installation install;
  if (const std::string gap = run_flow::warningBoxGap(); !gap.empty()) GTEST_SKIP() << gap;
  writeFile(install.dir / "Vardel.exe", "not a program");  // present, but cannot be executed
  ASSERT_TRUE(install.run({}));
  EXPECT_EQ(install.result.exitCode, 0u);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：存在");
  EXPECT_EQ(log[5].rfind("ERROR CreateProcessW 无法启动现有 Vardel：Windows错误=", 0), 0u) << log[5];
  EXPECT_EQ(log[6], "WARN 未配置更新服务器地址，跳过更新检查，现有 Vardel 继续运行");
  EXPECT_EQ(log[7], "INFO Kestrun 本次运行结束");
  EXPECT_NE(install.result.transcript.find("Unable to start the application."), std::string::npos);
}

}  // namespace
