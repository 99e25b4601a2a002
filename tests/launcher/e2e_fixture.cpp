#include "tests/launcher/e2e_fixture.h"

#include <regex>

namespace e2e {

void publishSampleRelease(Release& release) {
  release.addProgram("Vardel.exe", buildSetup().mainProgram, kVardelTime);
  release.addFile("data/config.txt", "colour=blue\n", kConfigTime);
  release.addFile("readme.txt", "Fennick sample release\n", kReadmeTime);
}

void LauncherEndToEnd::SetUp() {
  const std::string reason = whyNotRunnable();
  if (!reason.empty()) GTEST_SKIP() << reason;
}

std::unique_ptr<ReleaseServer> LauncherEndToEnd::startServer() {
  const fs::path output = root() / ("server-" + std::to_string(++serverNumber_) + ".out");
  return std::make_unique<ReleaseServer>(release_.root(), faultsFile(), output);
}

std::vector<Expected> startLines(const Installation& installation, bool mainProgramPresent) {
  return {
      {"INFO", "========== Kestrun 启动 =========="},
      {"INFO", "安装目录：" + installation.dirText()},
      {"INFO", "运行平台：{*}"},
      {"INFO", std::string("启动时 Vardel.exe 状态：") +
                   (mainProgramPresent ? "存在" : "不存在（首次引导）")},
  };
}

std::vector<Expected> earlyStartLines(const Installation& installation) {
  return {
      {"INFO", "准备启动现有主程序：" + installation.mainProgramText()},
      {"INFO", "现有 Vardel 进程创建成功：pid={N}"},
  };
}

std::vector<Expected> stopLines() {
  return {
      {"INFO", "更新前已结束 Vardel，进程文件锁应已释放"},
      {"WARN", "释放句柄前发现 Vardel 已退出：exitCode=0 (0x00000000)"},
  };
}

std::vector<Expected> observeLines(const Installation& installation) {
  return {
      {"INFO", "准备启动更新后的主程序：" + installation.mainProgramText()},
      {"INFO", "Vardel 进程创建成功：pid={N}；开始观察前 5 秒启动状态"},
      {"INFO", "Vardel 启动后 5 秒内保持运行，启动器结束观察"},
  };
}

Expected checkStartLine() { return {"INFO", "已取得更新服务器配置，开始检查更新"}; }

Expected closingLine() { return {"INFO", "Kestrun 本次运行结束"}; }

std::vector<Expected> concat(std::initializer_list<std::vector<Expected>> groups) {
  std::vector<Expected> all;
  for (const auto& group : groups) all.insert(all.end(), group.begin(), group.end());
  return all;
}

std::string requestLine(const std::string& target, int status) {
  return "GET " + target + " -> " + std::to_string(status) + " (Kestrun/1.0)";
}

std::string reportCountsLine(int listed, int pending, int forbidden, int locked) {
  return "更新检测：清单 " + std::to_string(listed) + " 项，待更新 " + std::to_string(pending) +
         " 项，禁止下载 " + std::to_string(forbidden) + " 项，跳过锁定文件 " +
         std::to_string(locked) + " 项";
}

std::string reportServerLine() { return "服务器: " + buildSetup().baseUrl + "  平台: windows"; }

bool isStampedReportLine(const std::string& line, const std::string& counts) {
  static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )");
  std::smatch match;
  return std::regex_search(line, match, stamp) && line.substr(match.length()) == counts;
}

}  // namespace e2e
