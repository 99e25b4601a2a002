// Runs the launcher's frame (built without a server) in a temporary installation and
// checks the log it writes, line by line.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

struct Installation {
  TempDir root;
  fs::path dir = root / "Fennick app";
  fs::path home = root / "home";

  Installation() {
    fs::create_directories(dir);
    fs::copy_file(NO_SERVER_LAUNCHER, dir / "Kestrun");
  }

  void addMainProgram(int staySeconds) {
    fs::copy_file(RECORDING_MAIN_PROGRAM, dir / "Vardel.exe");
    writeFile(dir / "stay_seconds.txt", std::to_string(staySeconds));
  }

  // Runs the launcher headless with a private home, so that nothing outside the test's own
  // directories is written. Returns the exit status.
  int run(const std::string& quotedArguments) {
    const std::string command = "cd '" + root.path().string() + "' && env -u DISPLAY HOME='" + home.string() +
                                "' XDG_DATA_HOME='" + (home / "data").string() + "' XDG_CONFIG_HOME='" +
                                (home / "config").string() + "' '" + (dir / "Kestrun").string() + "' " +
                                quotedArguments + " 2>'" + (root / "stderr.txt").string() + "'";
    return std::system(command.c_str());
  }

  std::string stderrText() const { return readFile(root / "stderr.txt"); }

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

std::string pidFrom(const std::string& message) { return message.substr(message.find("pid=") + 4); }

TEST(NoServerRunFlow, PresentProgramIsStartedAndKeepsRunning) {
  Installation install;
  install.addMainProgram(3);
  ASSERT_EQ(install.run("'vardel://open?id=1' 'say \"hi\"' ''"), 0);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 8u) << install.stderrText();
  EXPECT_EQ(log[0], "INFO ========== Kestrun 启动 ==========");
  EXPECT_EQ(log[1], "INFO 安装目录：" + install.dir.string());
  EXPECT_EQ(log[2].rfind("INFO 运行平台：Linux ", 0), 0u) << log[2];
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：存在");
  EXPECT_EQ(log[4], "INFO 准备启动现有主程序：" + (install.dir / "Vardel.exe").string());
  EXPECT_TRUE(std::regex_match(log[5], std::regex("INFO 现有 Vardel 进程创建成功：pid=\\d+"))) << log[5];
  EXPECT_EQ(log[6], "WARN 未配置更新服务器地址，跳过更新检查，现有 Vardel 继续运行");
  EXPECT_EQ(log[7], "INFO Kestrun 本次运行结束");
  EXPECT_EQ(install.stderrText(), "");

  // The program outlived the launcher; it recorded its arguments unchanged.
  const int pid = std::stoi(pidFrom(log[5]));
  for (int i = 0; i < 100 && readFile(install.dir / "calls.txt").find("end\n") == std::string::npos; ++i) {
    struct timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  EXPECT_EQ(kill(pid, 0), 0) << "the main program must keep running after the launcher exits";
  kill(pid, SIGKILL);
  EXPECT_EQ(readFile(install.dir / "calls.txt"),
            "cwd=" + install.dir.string() + "\narg=vardel://open?id=1\narg=say \"hi\"\narg=\nend\n");
}

TEST(NoServerRunFlow, MissingProgramReportsMissingServerAddress) {
  Installation install;
  ASSERT_EQ(install.run(""), 0);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：不存在（首次引导）");
  EXPECT_EQ(log[4], "ERROR 首次引导失败：未配置更新服务器地址");
  EXPECT_EQ(log[5], "INFO Kestrun 本次运行结束");
  // Headless, the warning box's caption and text go to standard error.
  EXPECT_NE(install.stderrText().find("The application is missing, and the update server address could not be "
                                      "determined. Check Kestrun.ini."),
            std::string::npos)
      << install.stderrText();
}

TEST(NoServerRunFlow, UnstartableProgramShowsStartFailedAndStillEnds) {
  Installation install;
  writeFile(install.dir / "Vardel.exe", "not a program");  // present, but cannot be executed
  ASSERT_EQ(install.run(""), 0);

  const std::vector<std::string> log = install.logMessages();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[3], "INFO 启动时 Vardel.exe 状态：存在");
  EXPECT_EQ(log[5].rfind("ERROR CreateProcessW 无法启动现有 Vardel：Windows错误=", 0), 0u) << log[5];
  EXPECT_EQ(log[6], "WARN 未配置更新服务器地址，跳过更新检查，现有 Vardel 继续运行");
  EXPECT_EQ(log[7], "INFO Kestrun 本次运行结束");
  EXPECT_NE(install.stderrText().find("Unable to start the application."), std::string::npos);
}

}  // namespace
