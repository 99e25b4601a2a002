// Runs the launcher against a loopback server of the test's own that lists nothing or
// refuses the manifest, and checks what reaches the log and standard error, in order.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/run_flow/launcher_run.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "ui/ui_text.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// The system's texts for the conditions that the cases provoke; Wine words them its own way.
struct SystemTexts {
  std::string logsIsAFile;  // why the log directory cannot be made where a file "logs" stands
  std::string notAProgram;  // the report on starting a Vardel.exe that is no program
};

SystemTexts systemTexts() {
  if (!testing_support::kWindowsBuild) {
    // A file without execute permission: the system refuses to run it.
    return {"Not a directory", "13 (0x0000000D)；Permission denied"};
  }
  // ERROR_ALREADY_EXISTS, and ERROR_BAD_EXE_FORMAT for a file that is no executable image.
  if (testing_support::runningUnderWine()) return {"File already exists", "193 (0x000000C1)；Bad EXE format for %1"};
  return {"Cannot create a file when that file already exists", "193 (0x000000C1)；%1 is not a valid Win32 application"};
}

// Log lines become "LEVEL message"; any other line (a standard-error report, a warning box
// without a display) is kept as it is.
std::vector<std::string> linesOf(const std::string& text) {
  static const std::regex frame(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(INFO|WARN|ERROR)\] \[pid=\d+\] )");
  std::vector<std::string> lines;
  std::istringstream input(text);
  for (std::string line; std::getline(input, line);) {
    std::smatch match;
    lines.push_back(std::regex_search(line, match, frame) ? match[1].str() + " " + match.suffix().str() : line);
  }
  return lines;
}

struct ServerCheckCase {
  const char* name;
  const char* mainProgram;  // content of Vardel.exe, or null for a first installation
  bool logBlocked;          // a file named "logs" keeps the log directory from being created
  int listStatus;
  const char* listBody;
  int fileStatus;  // the answer to every file request
  std::vector<std::string> logLines;     // after the platform line
  std::vector<std::string> stderrLines;  // everything on standard error
};

std::vector<ServerCheckCase> cases() {
  const std::string caption = uiText(false, UiText::LauncherTitle);
  const std::string box = caption + ": ";
  return {
      {"first installation without a log, manifest refused", nullptr, true, 503, "busy", 404,
       {},
       {"INFO 启动时 Vardel.exe 状态：不存在（首次引导）", "INFO 已取得更新服务器配置，开始检查更新",
        // the report comes first, then the log line that repeats it
        "Kestrun update check failed: 无法获取更新清单：HTTP 503", "WARN 更新检查失败：无法获取更新清单：HTTP 503",
        box + uiText(false, UiText::ServerUnreachable), "INFO Kestrun 本次运行结束"}},
      {"installation whose early start failed, nothing listed", "not a program", false, 200, "[]", 404,
       {"INFO 启动时 Vardel.exe 状态：存在", "INFO 准备启动现有主程序：{program}",
        "ERROR CreateProcessW 无法启动现有 Vardel：Windows错误={report}", "INFO 已取得更新服务器配置，开始检查更新",
        "INFO 更新检查完成：待更新文件=0", "INFO 本次没有文件需要更新，现有 Vardel 继续运行",
        "INFO Kestrun 本次运行结束"},
       {box + uiText(false, UiText::StartFailed)}},
      {"first installation whose only file keeps failing", nullptr, false, 200,
       R"([{"path":"Vardel.exe","size":5,"mtime":1700000000}])", 503,
       {"INFO 启动时 Vardel.exe 状态：不存在（首次引导）", "INFO 已取得更新服务器配置，开始检查更新",
        "INFO 更新检查完成：待更新文件=1", "INFO 检测到更新，准备结束旧版 Vardel 并下载文件",
        "WARN 下载文件失败，将进行第 1/3 次重试：Vardel.exe（HTTP 503）",
        "WARN 下载文件失败，将进行第 2/3 次重试：Vardel.exe（HTTP 503）",
        "WARN 下载文件失败，将进行第 3/3 次重试：Vardel.exe（HTTP 503）",
        "ERROR 更新下载失败：下载文件失败：Vardel.exe（HTTP 503）", "INFO Kestrun 本次运行结束"},
       // nothing to start: the user is told that the application is incomplete
       {box + uiText(false, UiText::ApplicationIncomplete)}},
  };
}

std::string replaced(std::string line, const std::string& placeholder, const std::string& value) {
  const std::size_t at = line.find(placeholder);
  return at == std::string::npos ? line : line.replace(at, placeholder.size(), value);
}

TEST(ServerCheckRunFlow, OutcomeLinesInOrder) {
  if (const std::string gap = run_flow::warningBoxGap(); !gap.empty()) GTEST_SKIP() << gap;
  for (const ServerCheckCase& c : cases()) {
    SCOPED_TRACE(c.name);
    testing_support::LoopbackServer server;
    server.server().Get("/gis/update/list", [&c](const httplib::Request&, httplib::Response& response) {
      response.status = c.listStatus;
      response.set_content(c.listBody, "application/json");
    });
    server.server().Get("/gis/update/file", [&c](const httplib::Request&, httplib::Response& response) {
      response.status = c.fileStatus;
      response.set_content("nope", "text/plain");
    });
    server.start();

    TempDir root;
    const fs::path dir = root / "Fennick app";
    fs::create_directories(dir);
    fs::copy_file(SERVER_LAUNCHER, dir / run_flow::kLauncherName);
    if (c.mainProgram) writeFile(dir / "Vardel.exe", c.mainProgram);
    if (c.logBlocked) writeFile(dir / "logs", "");

    const run_flow::LauncherRun run = run_flow::runLauncher(
        dir / run_flow::kLauncherName, {}, root.path(), root / "home", {{"KESTRUN_TEST_BASE_URL", server.baseUrl()}});
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.exitCode, 0u);
    server.stop();
    const std::vector<std::string> targets = server.requestTargets();
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets.front(), "/gis/update/list?platform=windows");
    EXPECT_FALSE(fs::exists(dir / "Vardel.exe") && !c.mainProgram) << "nothing may be applied";

    std::vector<std::string> stderrLines = linesOf(run.transcript);
    std::vector<std::string> logLines;
    if (c.logBlocked) {
      ASSERT_GE(stderrLines.size(), 2u);
      EXPECT_EQ(stderrLines[0], "ERROR 无法创建 Kestrun 日志目录：" + platform::pathToUtf8(dir / "logs") + "；原因：" +
                                    systemTexts().logsIsAFile);
      EXPECT_EQ(stderrLines[1].rfind("INFO 运行平台：", 0), 0u) << stderrLines[1];
      stderrLines.erase(stderrLines.begin(), stderrLines.begin() + 2);
    } else {
      for (const auto& item : fs::directory_iterator(dir / "logs")) {
        const std::vector<std::string> lines = linesOf(readFile(item.path()));
        logLines.insert(logLines.end(), lines.begin(), lines.end());
      }
      ASSERT_GE(logLines.size(), 3u);
      EXPECT_EQ(logLines[0], "INFO ========== Kestrun 启动 ==========");
      EXPECT_EQ(logLines[1], "INFO 安装目录：" + platform::pathToUtf8(dir));
      EXPECT_EQ(logLines[2].rfind("INFO 运行平台：", 0), 0u) << logLines[2];
      logLines.erase(logLines.begin(), logLines.begin() + 3);
    }

    std::vector<std::string> expectedLog;
    for (std::string line : c.logLines) {
      line = replaced(line, "{program}", platform::pathToUtf8(dir / "Vardel.exe"));
      line = replaced(line, "{report}", systemTexts().notAProgram);
      expectedLog.push_back(line);
    }
    EXPECT_EQ(logLines, expectedLog);
    EXPECT_EQ(stderrLines, c.stderrLines);
  }
}

}  // namespace
