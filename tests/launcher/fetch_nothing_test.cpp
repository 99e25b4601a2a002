// Runs in which the launcher downloads nothing: an up-to-date installation, a release whose
// only difference is the launcher's own (locked) file, a manifest refused by the server, and
// a first installation that finds an empty release or no server at all.

#include <functional>

#include "tests/launcher/e2e_fixture.h"

namespace e2e {
namespace {

enum class Server { Up, Down };

struct FetchNothingCase {
  const char* name;
  bool installed;                             // the installation mirrors the sample release
  std::function<void(Release&)> afterMirror;  // release changes made after mirroring
  Server server;
  std::string faults;
  std::string language;
  std::vector<Expected> afterCheckStart;      // log lines between the check start and the end
  std::string standardError;
  int manifestStatus;                         // the status the server logs for the manifest
  // update.log after the run: its counts line and the lines after the server line; empty
  // counts: no report written by this run.
  std::string reportCounts;
  std::vector<std::string> reportBody;
  bool throughProxy = false;  // http_proxy names a tinyproxy of the test's
};

const std::string kLaunchArgs[] = {"vardel://open?item=7", "two words"};

std::vector<FetchNothingCase> fetchNothingCases() {
  const std::string differentLauncher = "not the launcher at all\n";
  return {
      {"up-to-date installation",
       true, nullptr, Server::Up, "", "C.UTF-8",
       {{"INFO", "更新检查完成：待更新文件=0"}, {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"}},
       "", 200,
       reportCountsLine(3, 0, 0, 0), {"（无差异，本次不更新）"}},
      {"up-to-date installation behind the proxy of http_proxy",
       true, nullptr, Server::Up, "", "C.UTF-8",
       {{"INFO", "网络代理：http://127.0.0.1:{N}（来源：环境变量 http_proxy）"},
        {"INFO", "更新检查完成：待更新文件=0"}, {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"}},
       "", 200,
       reportCountsLine(3, 0, 0, 0), {"（无差异，本次不更新）"}, true},
      {"release with a different launcher file, which is locked",
       true,
       [differentLauncher](Release& release) {
         release.addFile(Installation::launcherName(), differentLauncher, kVardelTime);
       },
       Server::Up, "", "C.UTF-8",
       {{"INFO", "更新检查完成：待更新文件=0"}, {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"}},
       "", 200,
       reportCountsLine(4, 0, 0, 1),
       {"  [跳过-自更新锁定] Kestrun  大小不同(本地=" +
        std::to_string(fs::file_size(buildSetup().launcher)) + " 远端=" +
        std::to_string(differentLauncher.size()) + ")"}},
      {"manifest answered with 404",
       true, nullptr, Server::Up, "list-status 404\n", "C.UTF-8",
       {{"WARN", "更新检查失败：无法获取更新清单：HTTP 404"}},
       "Kestrun update check failed: 无法获取更新清单：HTTP 404\n", 404,
       "", {}},
      {"first installation against an empty release",
       false, nullptr, Server::Up, "", "C.UTF-8",
       {{"INFO", "更新检查完成：待更新文件=0"}},
       "Fennick Launcher: No application files are currently available on the server.\n", 200,
       reportCountsLine(0, 0, 0, 0), {"（无差异，本次不更新）"}},
      {"first installation without a server, Chinese user",
       false, nullptr, Server::Down, "", "zh_CN.UTF-8",
       {{"WARN", "更新检查失败：无法获取更新清单：Couldn't connect to server"}},
       "Kestrun update check failed: 无法获取更新清单：Couldn't connect to server\n"
       "Fennick 启动器: 无法连接更新服务器，暂时无法下载程序。请稍后重试。\n",
       0, "", {}},
  };
}

class FetchNothing : public LauncherEndToEnd {};

TEST_F(FetchNothing, LogsTheOutcomeAndLeavesTheInstallationAsItWas) {
  for (const FetchNothingCase& testCase : fetchNothingCases()) {
    SCOPED_TRACE(testCase.name);
    testing_support::TempDir caseRoot;
    Release release(caseRoot / "release");
    if (testCase.installed || testCase.afterMirror) publishSampleRelease(release);
    Installation installation(caseRoot / "install");
    if (testCase.installed) {
      installation.mirror(release);
      installation.setMainProgramBehaviour("stay 60");
    }
    if (testCase.afterMirror) testCase.afterMirror(release);
    // A failed check leaves the report of an earlier one alone.
    const std::string earlierReport = "the report of an earlier check\n";
    testing_support::writeFile(installation.dir() / "update.log", earlierReport);
    writeFaults(caseRoot / "faults.txt", testCase.faults);
    const auto installedBefore = snapshotTree(installation.dir());

    std::unique_ptr<ReleaseServer> server;
    if (testCase.server == Server::Up) {
      server = std::make_unique<ReleaseServer>(release.root(), caseRoot / "faults.txt",
                                               caseRoot / "server.out");
      ASSERT_TRUE(server->running());
    }
    const std::vector<std::string> args(std::begin(kLaunchArgs), std::end(kLaunchArgs));
    RunOptions options;
    options.language = testCase.language;
    std::unique_ptr<Tinyproxy> proxy;
    if (testCase.throughProxy) {
      proxy = std::make_unique<Tinyproxy>(caseRoot.path());
      ASSERT_TRUE(proxy->running());
      options.environment = {"http_proxy=http://" + proxy->address(), "no_proxy=", "NO_PROXY="};
    }
    const std::string logNameBefore = todaysLogFileName();
    const LauncherOutcome outcome = installation.run(args, options);
    const std::string logNameAfter = todaysLogFileName();

    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
    EXPECT_TRUE(outcome.logWellFormed);
    EXPECT_TRUE(logMatches(
        outcome.log,
        concat({startLines(installation, testCase.installed),
                testCase.installed ? earlyStartLines(installation) : std::vector<Expected>{},
                {checkStartLine()}, testCase.afterCheckStart, {closingLine()}})));
    EXPECT_EQ(outcome.standardError, testCase.standardError);
    // One daily log, named for the day the run started.
    const auto logNames = logFileNames(installation.dir());
    EXPECT_TRUE(logNames == std::vector<std::string>{logNameBefore} ||
                logNames == std::vector<std::string>{logNameAfter})
        << ::testing::PrintToString(logNames);

    if (proxy) {
      EXPECT_EQ(proxy->requests(), std::vector<std::string>{"GET " + buildSetup().baseUrl +
                                                            "/gis/update/list?platform=windows"});
    }
    if (server) {
      EXPECT_EQ(server->requests(),
                std::vector<std::string>{requestLine("/gis/update/list?platform=windows",
                                                     testCase.manifestStatus)});
    }

    const std::vector<std::string> report = installation.updateReport();
    if (testCase.reportCounts.empty()) {
      EXPECT_EQ(testing_support::readFile(installation.dir() / "update.log"), earlierReport);
    } else {
      ASSERT_EQ(report.size(), 2 + testCase.reportBody.size());
      EXPECT_TRUE(isStampedReportLine(report[0], testCase.reportCounts)) << report[0];
      EXPECT_EQ(report[1], reportServerLine());
      EXPECT_EQ(std::vector<std::string>(report.begin() + 2, report.end()), testCase.reportBody);
    }

    // Nothing of the installation changed: no staging directory, the launcher's own file
    // as it was, every other file as it was.
    auto installedAfter = snapshotTree(installation.dir(), installation.dir() / "logs");
    auto expectedAfter = installedBefore;
    std::erase_if(installedAfter, [](const std::string& item) {
      return item.find("file update.log") == 0 || item.find("file update.lock") == 0 ||
             item.find("file vardel-starts.txt") == 0;
    });
    std::erase_if(expectedAfter,
                  [](const std::string& item) { return item.find("file update.log") == 0; });
    EXPECT_EQ(installedAfter, expectedAfter);

    if (testCase.installed) {
      const auto starts = installation.mainProgramStarts(1);
      ASSERT_EQ(starts.size(), 1u);
      EXPECT_EQ(starts[0].args, args);
      EXPECT_EQ(starts[0].cwd, installation.dirText());
    } else {
      EXPECT_FALSE(fs::exists(installation.dir() / "vardel-starts.txt"));
    }
  }
}

}  // namespace
}  // namespace e2e
