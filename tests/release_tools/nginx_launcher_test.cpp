// The built launcher against nginx serving a site written by kestrun-publish: a first
// installation, an update after a publish, a rollback, and a publish in the middle of a
// download. nginx listens on the launcher's built-in loopback port.

#include <algorithm>
#include <thread>

#include "tests/launcher/e2e_fixture.h"
#include "tests/release_tools/nginx_server.h"
#include "tests/release_tools/tool_process.h"
#include "tools/release_manifest/release_manifest.h"

namespace e2e {
namespace {

using release_tools_test::NginxServer;

class NginxLauncher : public LauncherEndToEnd {
 protected:
  void SetUp() override {
    LauncherEndToEnd::SetUp();
    if (IsSkipped()) return;
    const std::string reason = release_tools_test::whyNginxCannotRun();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }

  fs::path site() const { return root() / "site"; }

  // Publishes the release as it is now; returns the new release id.
  std::string publish(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {"--source", release().platformDir().string(), "--site",
                                          site().string(), "--platform", "windows", "--copy"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto run = release_tools_test::runTool(release_tools_test::toolPaths().publish, arguments,
                                                 root() / "publish-runs");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return fs::read_symlink(site() / "current").filename().string();
  }

  std::unique_ptr<NginxServer> startNginx(const std::string& httpSettings = "") {
    auto nginx = std::make_unique<NginxServer>(site(), buildSetup().port, root() / "nginx",
                                               httpSettings);
    EXPECT_TRUE(nginx->running()) << nginx->failure();
    return nginx;
  }

  // Every file and link of the site's current release is installed as published.
  ::testing::AssertionResult installedAsCurrent(const Installation& installation) {
    const fs::path tree = site() / "current/windows";
    release_manifest::ReleaseListing listing;
    std::string error;
    if (!release_manifest::listReleaseTree(tree, listing, error)) {
      return ::testing::AssertionFailure() << error;
    }
    for (const auto& entry : listing.entries) {
      const fs::path installed = installation.dir() / entry.path;
      if (entry.isLink()) {
        std::error_code ec;
        if (fs::read_symlink(installed, ec).string() != entry.link) {
          return ::testing::AssertionFailure() << entry.path << " is not a link to " << entry.link;
        }
      } else if (!fs::is_regular_file(installed) ||
                 testing_support::readFile(installed) != testing_support::readFile(tree / entry.path) ||
                 mtimeOf(installed) != entry.mtime) {
        return ::testing::AssertionFailure() << entry.path << " differs from the release";
      }
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(NginxLauncher, FirstInstallationThenAnUpdateThenARollback) {
  publishSampleRelease(release());
  release().addFile("Sample Plugin+1/a b.txt", "plugin one\n", 1700000300);
  release().addLink("Sample Plugin+1/latest", "a b.txt");
  // Large enough for a compressed copy, and changed in one line by the update: a patch.
  std::string table;
  for (int i = 0; i < 3000; ++i) table += std::to_string(i * 7919 % 100003) + ",sensor,ok\n";
  release().addFile("data/table.csv", table, 1700000500);
  const std::string first = publish();
  auto nginx = startNginx();
  ASSERT_TRUE(nginx->running());
  Installation installation(root() / "install");
  installation.setMainProgramBehaviour("stay 30");

  struct Step {
    const char* name;
    std::function<void()> change;
  };
  const std::vector<Step> steps = {
      {"first installation", [] {}},
      {"update after a publish",
       [&] {
         release().addFile("data/config.txt", "colour=teal, a longer line\n", kConfigTime + 1000);
         release().addFile("Sample Plugin+1/a b.txt", "plugin two\n", 1700000400);
         release().addFile("data/table.csv", table.replace(3000, 6, "edited"), 1700000600);
         publish();
       }},
      {"rollback", [&] {
         const auto run = release_tools_test::runTool(
             release_tools_test::toolPaths().publish, {"--site", site().string(), "--rollback", first},
             root() / "publish-runs");
         ASSERT_EQ(run.exitCode, 0) << run.err;
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    const LauncherOutcome outcome = installation.run({});
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(outcome.standardError, "");
    EXPECT_TRUE(installedAsCurrent(installation));
    // The first installation takes the compressed copy, the update a patch, the rollback the
    // compressed copy of the first release again.
    const Expected byObject = {"INFO", std::string(step.name == steps[1].name ? "以补丁下载" : "以压缩副本下载") +
                                           "：data/table.csv（{*}"};
    EXPECT_TRUE(std::any_of(outcome.log.begin(), outcome.log.end(),
                            [&](const LogLine& line) { return matchesExpected(line, byObject); }));
    EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));
  }
  EXPECT_EQ(testing_support::readFile(installation.dir() / "data/config.txt"), "colour=blue\n");
  EXPECT_EQ(mtimeOf(installation.dir() / "data/config.txt"), kConfigTime);
}

TEST_F(NginxLauncher, APublishDuringADownloadEndsTheRunCleanlyAndTheNextRunConverges) {
  publishSampleRelease(release());
  // Four large files, each sent at 4 MB/s: the download takes about three seconds.
  for (int i = 0; i < 4; ++i) {
    release().addFile("data/large " + std::to_string(i) + ".bin", std::string(3 << 20, 'a' + i),
                      1700001000 + i);
  }
  // Whole files, whose length is what the rate limit stretches.
  publish({"--no-objects"});
  auto nginx = startNginx("limit_rate 4m;\n");
  ASSERT_TRUE(nginx->running());
  Installation installation(root() / "install");
  installation.setMainProgramBehaviour("stay 30");

  Installation::Started started = installation.start({}, {});
  ASSERT_TRUE(release_tools_test::waitUntil(
      [&] { return fs::exists(installation.dir() / "update_staging/data"); }, 30000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::uint32_t errorCode = 0;
  ASSERT_EQ(platform::waitForExit(*started.process, 0, errorCode), platform::WaitResult::TimedOut)
      << "the download ended before the publish";
  for (int i = 0; i < 4; ++i) {
    release().addFile("data/large " + std::to_string(i) + ".bin", std::string((2 << 20) + i, 'A' + i),
                      1700002000 + i);
  }
  publish({"--no-objects"});
  const LauncherOutcome during = installation.finish(std::move(started), 120000);
  ASSERT_TRUE(during.finished);
  EXPECT_EQ(during.exitCode, 0u);
  // Finished (every file as the old manifest described it) or failed cleanly (a file of the
  // new release did not match the old manifest, nothing applied); never anything between.
  const auto has = [&](const Expected& expected) {
    return std::any_of(during.log.begin(), during.log.end(),
                       [&](const LogLine& line) { return matchesExpected(line, expected); });
  };
  const bool finishedDownload = has({"INFO", "更新文件下载完成，开始落地"});
  const bool failedDownload = has({"ERROR", "更新下载失败：{*}"});
  EXPECT_NE(finishedDownload, failedDownload);
  if (failedDownload) {
    EXPECT_FALSE(fs::exists(installation.dir() / "Vardel.exe"));
  }

  const LauncherOutcome next = installation.run({});
  ASSERT_TRUE(next.finished);
  EXPECT_EQ(next.exitCode, 0u);
  EXPECT_TRUE(installedAsCurrent(installation));
  EXPECT_FALSE(fs::exists(installation.dir() / "update_staging"));
}

}  // namespace
}  // namespace e2e
