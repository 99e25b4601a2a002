// kestrun-publish killed at random moments: `current` always names a whole release, one of
// those that were published, and the next publish cleans up and succeeds. The seed is printed
// so that a failing sequence can be replayed (KESTRUN_KILL_SEED=N).

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "tests/release_tools/site_check.h"
#include "tests/release_tools/tool_process.h"
#include "tests/support/temp_dir.h"

namespace release_tools_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 400;
constexpr int kRounds = 15;

void writeSource(const fs::path& dir, char fill) {
  for (int i = 0; i < kFiles; ++i) {
    testing_support::writeFile(dir / ("d" + std::to_string(i % 10)) / ("f" + std::to_string(i)),
                               std::string(16 * 1024, fill) + std::to_string(i));
  }
  fs::create_symlink("d0/f0", dir / "first");
}

unsigned seedOfThisRun() {
  if (const char* given = std::getenv("KESTRUN_KILL_SEED")) return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
  return static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
}

TEST(PublishKilled, CurrentAlwaysNamesAWholePublishedRelease) {
  testing_support::TempDir temp;
  const fs::path site = temp / "site";
  const fs::path sources[] = {temp / "a", temp / "b"};
  writeSource(sources[0], 'a');
  writeSource(sources[1], 'b');
  const std::vector<std::string> published[] = {treeContents(sources[0]), treeContents(sources[1])};
  auto command = [&](int which) {
    // Copies, not hard links: a slower publish offers more moments to be killed at.
    return std::vector<std::string>{toolPaths().publish.string(), "--source", sources[which].string(),
                                    "--site", site.string(), "--platform", "windows", "--copy", "--keep", "3"};
  };
  auto checkSite = [&](const std::string& when) {
    SCOPED_TRACE(when);
    const std::string id = currentId(site);
    if (id.empty()) return;  // killed before the first switch
    const fs::path release = site / "releases" / id;
    ASSERT_TRUE(fs::is_directory(release)) << id;
    EXPECT_EQ(releaseDefect(release, "windows"), "");
    const std::vector<std::string> tree = treeContents(release / "windows");
    EXPECT_TRUE(tree == published[0] || tree == published[1]) << "release " << id << " is incomplete";
  };

  // How long one whole publish takes here, so that the kills fall inside one.
  const auto begin = Clock::now();
  ASSERT_EQ(Child(command(0), temp / "out", temp / "err").wait(120000), 0);
  const auto fullRun = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);

  const unsigned seed = seedOfThisRun();
  std::cout << "kill test seed: " << seed << " (one publish takes " << fullRun.count() / 1000
            << " ms)" << std::endl;
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> moment(0, fullRun.count() * 6 / 5);
  for (int round = 0; round < kRounds; ++round) {
    Child publish(command(round % 2), temp / "out", temp / "err");
    ASSERT_TRUE(publish.started());
    const auto killAt = std::chrono::microseconds(moment(random));
    std::this_thread::sleep_for(killAt);
    publish.kill();
    checkSite("round " + std::to_string(round) + ", killed after " +
              std::to_string(killAt.count()) + " us");
  }

  const std::vector<std::string> lastCommand = command(1);
  const ToolRun last = runTool(lastCommand.front(),
                               std::vector<std::string>(lastCommand.begin() + 1, lastCommand.end()),
                               temp / "runs");
  ASSERT_EQ(last.exitCode, 0) << last.err;
  checkSite("after a whole publish");
  EXPECT_EQ(treeContents(site / "current/windows"), published[1]);
  for (const auto& item : fs::directory_iterator(site / "releases")) {
    EXPECT_NE(item.path().filename().string().front(), '.') << item.path();
  }
  EXPECT_LE(releaseIds(site).size(), 4u);
}

}  // namespace
}  // namespace release_tools_test
