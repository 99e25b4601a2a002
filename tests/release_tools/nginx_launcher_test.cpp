// The built launcher against nginx serving a site written by kestrun-publish: a first
// installation, an update after a publish, a rollback, a publish in the middle of a download,
// and a candidate halted by a steering step. nginx listens on the launcher's built-in loopback
// port.

#include <algorithm>
#include <random>
#include <regex>
#include <thread>

#include "tests/launcher/e2e_fixture.h"
#include "tests/release_tools/nginx_server.h"
#include "tests/release_tools/tool_process.h"
#include "platform/environment.h"
#include "tools/release_manifest/release_manifest.h"
#include "update/rollout_cohort.h"

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

TEST_F(NginxLauncher, ASteeringStepHaltsAFailingCandidateAndItsLaunchersGoBack) {
  publishSampleRelease(release());
  publish();
  auto nginx = startNginx();
  ASSERT_TRUE(nginx->running());
  std::vector<std::unique_ptr<Installation>> fleet;
  for (const char* name : {"a", "b"}) {
    fleet.push_back(std::make_unique<Installation>(root() / name));
    // The program fails at its every start: each update to the candidate is an early exit.
    fleet.back()->setMainProgramBehaviour("exit 3");
    ASSERT_EQ(fleet.back()->run({}).exitCode, 0u);
  }
  release().addFile("data/config.txt", "colour=red\n", kConfigTime + 1000);
  const std::string candidate = publish({"--rollout", "5", "--health-reports"});
  std::smatch salt;
  const std::string offer = testing_support::readFile(site() / "current/windows.json");
  ASSERT_TRUE(std::regex_search(offer, salt, std::regex("\"salt\":\"([0-9a-f]{64})\"")));
  std::mt19937_64 random(std::random_device{}());
  for (const auto& installation : fleet) {
    std::string id;
    do {
      char text[33];
      std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                    static_cast<unsigned long long>(random()));
      id = text;
    } while (!inRolloutCohort(salt[1].str(), id, 5));
    testing_support::writeFile(installation->dir() / "update_id.txt", id + "\n" + platform::computerName() + "\n" +
                                                                         fs::canonical(installation->dir()).string());
    ASSERT_EQ(installation->run({}).exitCode, 0u);
    EXPECT_EQ(testing_support::readFile(installation->dir() / "data/config.txt"), "colour=red\n");
  }

  // The share served again twice as a new release, keeping one besides: the candidate's own
  // release and the current one are pruned, and their reports still count.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(release_tools_test::runTool(release_tools_test::toolPaths().publish,
                                          {"--site", site().string(), "--rollout", "5", "--keep", "1"},
                                          root() / "publish-runs").exitCode, 0);
  }
  ASSERT_FALSE(fs::exists(site() / "releases" / candidate));
  // Two updates, both early exits, against a current release with no reports yet; both come
  // from 127.0.0.1, so they count as one installation.
  const auto run = release_tools_test::runTool(
      release_tools_test::toolPaths().publish,
      {"--site", site().string(), "--steer", nginx->accessLog().string(), "--plan", "5,25,100", "--min-updates", "1"},
      root() / "publish-runs");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("  candidate: tried by 1, wrong for 1 (rate 100.00 %, lower bound 9.48 %)"),
            std::string::npos) << run.out;
  EXPECT_NE(run.out.find("kestrun-publish: halt: the candidate does worse"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("(windows: the candidate is halted)"), std::string::npos) << run.out;
  for (const auto& installation : fleet) {
    ASSERT_EQ(installation->run({}).exitCode, 0u);
    EXPECT_TRUE(installedAsCurrent(*installation));
    EXPECT_EQ(testing_support::readFile(installation->dir() / "data/config.txt"), "colour=blue\n");
  }
}

}  // namespace
}  // namespace e2e
