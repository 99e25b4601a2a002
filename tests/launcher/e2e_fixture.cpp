#include "tests/launcher/e2e_fixture.h"

#include <regex>
#include <utility>

namespace e2e {

void publishSampleRelease(Release& release) {
  release.addProgram("Vardel.exe", buildSetup().mainProgram, kVardelTime);
  release.addFile("data/config.txt", "colour=blue\n", kConfigTime);
  release.addFile("readme.txt", "Fennick sample release\n", kReadmeTime);
}

void addNestedFiles(Release& release) {
  release.addFile("bin/My File+1 ü.dll", "library bytes\n", 1700000300);
  release.addFile("data/levels/level 1.dat", "level one\n", 1700000400);
}

std::vector<std::string> firstInstallationRequests() {
  return {requestLine("/gis/update/list?platform=windows", 200),
          requestLine("/gis/update/file?platform=windows&path=Vardel.exe", 200),
          requestLine("/gis/update/file?platform=windows&path=bin/My%20File%2B1%20%C3%BC.dll", 200),
          requestLine("/gis/update/file?platform=windows&path=data/config.txt", 200),
          requestLine("/gis/update/file?platform=windows&path=data/levels/level%201.dat", 200),
          requestLine("/gis/update/file?platform=windows&path=readme.txt", 200)};
}

void LauncherEndToEnd::SetUp() {
  const std::string reason = whyNotRunnable();
  if (!reason.empty()) GTEST_SKIP() << reason;
  const std::string notReady = runner().whyNotReady();
  ASSERT_TRUE(notReady.empty()) << notReady;
}

std::unique_ptr<ReleaseServer> LauncherEndToEnd::startServer() {
  const fs::path output = root() / ("server-" + std::to_string(++serverNumber_) + ".out");
  return std::make_unique<ReleaseServer>(release_.root(), faultsFile(), output);
}

Installation LauncherEndToEnd::installationWithStalledDownload() {
  publishSampleRelease(release());
  Installation installation(root() / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  release().addFile("data/config.txt", "colour=orange\n", kConfigTime + 77);
  // The file hangs long enough for the window to be found and closed.
  writeFaults(faultsFile(), "file-stall 60 data/config.txt\n");
  return installation;
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

std::vector<Expected> nothingToFetchLines(const Installation& installation) {
  return concat({startLines(installation, true), earlyStartLines(installation),
                 {checkStartLine(),
                  {"INFO", "更新检查完成：待更新文件=0"},
                  {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"},
                  closingLine()}});
}

std::vector<Expected> updateRunLines(const Installation& installation, int pending,
                                     const std::vector<Expected>& afterStop) {
  return concat({startLines(installation, true), earlyStartLines(installation),
                 {checkStartLine(),
                  {"INFO", "更新检查完成：待更新文件=" + std::to_string(pending)},
                  {"INFO", "检测到更新，准备结束旧版 Vardel 并下载文件"}},
                 stopLines(), afterStop, observeLines(installation), {closingLine()}});
}

std::vector<Expected> landedLines(int files) {
  const std::string n = std::to_string(files);
  return {{"INFO", "更新文件下载完成，开始落地"},
          {"INFO", "开始更新落地：普通文件=" + n + "，软链接=0"},
          {"INFO", "更新落地结束：成功=" + n + "，失败=0，跳过锁定=0，禁止落地=0"},
          {"INFO", "applyStaging 返回：成功落地=" + n}};
}

void expectCancelledUpdate(const Installation& installation, Installation::Started started,
                           const std::vector<std::string>& args) {
  // Well before the stalled file would arrive.
  const LauncherOutcome outcome = installation.finish(std::move(started), 40000);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(outcome.logWellFormed);
  EXPECT_TRUE(
      logMatches(outcome.log, updateRunLines(installation, 1, {{"WARN", "用户取消更新下载"}})));

  const fs::path config = installation.dir() / "data/config.txt";
  EXPECT_EQ(testing_support::readFile(config), "colour=blue\n");
  EXPECT_EQ(mtimeOf(config), kConfigTime);

  const auto starts = installation.mainProgramStarts(1);
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts.back().args, args);
}

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
