// A release that fails at start is taken back on the machine; one that starts well ends its
// probation. Shared by the Linux and the Wine end-to-end programs.

#include <algorithm>

#include "platform/text.h"

#include "tests/launcher/update_rows.h"

namespace e2e {

void PrintTo(const AutoRollbackRow& row, std::ostream* out) { *out << row.name; }

std::vector<AutoRollbackRow> autoRollbackRows() {
  return {
      {"ExitCodeThreeIsTakenBackAfterTheSecondFailedStart", "exit 3", true},
      {"CrashCountsAsAFailedStart", "crash 1", true},
      {"ExitCodeZeroIsNoFailure", "exit 0", false},
      {"GoodReleaseEndsItsProbation", "stay 60", false},
  };
}

namespace {

const std::string kBehaviourFile = "vardel-behaviour.txt";
const std::string kList = "/gis/update/list?platform=windows";
const std::string kHealth = "/gis/update/health?platform=windows&release=";

// The release's files with their bytes and times, or "gone".
std::vector<std::string> releaseFiles(const fs::path& dir) {
  std::vector<std::string> files;
  for (const char* path : {"Vardel.exe", "data/config.txt", "data/added.txt", "readme.txt", "vardel-behaviour.txt"}) {
    const fs::path file = dir / path;
    files.push_back(std::string(path) + (fs::exists(file) ? " " + std::to_string(mtimeOf(file)) + " " +
                                                               testing_support::readFile(file)
                                                         : " gone"));
  }
  return files;
}

// A release `id` with a program that does `behaviour`, asking for rollback and health reports.
void publishRelease(Release& release, const std::string& id, const std::string& behaviour, std::int64_t time) {
  release.addFile("Vardel.exe", testing_support::readFile(buildSetup().mainProgram) + "\nVardel " + id + "\n", time);
  fs::permissions(release.platformDir() / "Vardel.exe", fs::perms::owner_exec, fs::perm_options::add);
  release.addFile("data/config.txt", "colour=" + id + "\n", time);
  release.addFile("data/added.txt", "new in " + id + "\n", time);
  release.addFile(kBehaviourFile, behaviour + "\n", time);
  release.fixManifestWith(R"({"auto_rollback":{"release":")" + id + R"(","window_seconds":2,"probation_starts":4}},)" +
                          R"({"health":{"release":")" + id + R"("}})");
}

bool hasLine(const LauncherOutcome& outcome, const Expected& expected) {
  return std::any_of(outcome.log.begin(), outcome.log.end(),
                     [&](const LogLine& line) { return matchesExpected(line, expected); });
}

}  // namespace

TEST_P(AutoRollbackRelease, FailedStartsTakeItBackAndGoodStartsEndItsProbation) {
  const AutoRollbackRow& row = GetParam();
  publishSampleRelease(release());
  release().addFile(kBehaviourFile, "stay 60\n", kReadmeTime);
  Installation installation(root() / "install");
  installation.mirror(release());
  const std::vector<std::string> previous = releaseFiles(installation.dir());
  publishRelease(release(), "r2", row.behaviour, kVardelTime + 5000);
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());
  const std::vector<std::string> args = {"--profile", "vardel://open?item=9"};

  // The update keeps the three files it replaces, moved aside whole, and watches the start.
  const LauncherOutcome updated = installation.run(args, runOptions());
  ASSERT_TRUE(updated.finished);
  EXPECT_TRUE(hasLine(updated, {"INFO", "已保留被替换的文件以备回滚：3 项，{N} 字节；新增 1 项"}));
  EXPECT_TRUE(hasLine(updated, {"INFO", "版本 r2 进入试用期：观察前 4 次启动（或 7 天），每次 2 秒，失败 2 次即回滚"}));
  EXPECT_TRUE(hasLine(updated, {"INFO", std::string("版本 r2 试用期：启动 1/4 次，失败 ") + (row.rolledBack ? "1" : "0") +
                                            "/2 次"}));
  EXPECT_EQ(testing_support::readFile(installation.dir() / "update_rollback/kept/Vardel.exe"),
            testing_support::readFile(buildSetup().mainProgram));

  if (!row.rolledBack) {
    // A file of the release lost meanwhile is fetched again; what was kept stays kept.
    fs::remove(installation.dir() / "data/added.txt");
    EXPECT_TRUE(hasLine(installation.run(args, runOptions()), {"INFO", "版本 r2 仍在试用期：只修复其文件，保留的文件不变"}));
    EXPECT_EQ(testing_support::readFile(installation.dir() / "update_rollback/kept/Vardel.exe"),
              testing_support::readFile(buildSetup().mainProgram));
    installation.run(args, runOptions());
    EXPECT_EQ(releaseFiles(installation.dir()), releaseFiles(release().platformDir()));
    EXPECT_FALSE(fs::exists(installation.dir() / "update_rollback"));
    return;
  }

  // The second failed start takes the release back and starts the previous program.
  const std::size_t requestsBefore = server->requests().size();
  const LauncherOutcome rolledBack = installation.run(args, runOptions());
  ASSERT_TRUE(rolledBack.finished);
  const std::string exitCode = row.behaviour == "exit 3" ? "3 (0x00000003)" : "{N} (0x{*})";
  EXPECT_TRUE(logMatches(
      rolledBack.log,
      concat({startLines(installation, true), earlyStartLines(installation),
              {{"INFO", "版本 r2 试用期：观察第 2 次启动"},
               {"ERROR", "Vardel 启动后 2 秒内退出：exitCode=" + exitCode},
               {"INFO", "版本 r2 试用期：启动 2/4 次，失败 2/2 次"},
               {"WARN", "版本 r2 启动失败 2 次，开始回滚到之前的版本"},
               {"INFO", "回滚完成：版本 r2 已撤回（恢复 3 项，删除新增 1 项），本机不再安装该版本"}},
              earlyStartLines(installation),
              {checkStartLine(),
               {"INFO", "更新检查完成：待更新文件=4"},
               {"INFO", "版本 r2 已在本机回滚，不再安装，等待新的版本"},
               {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"},
               closingLine()}})));
  EXPECT_EQ(releaseFiles(installation.dir()), previous);
  EXPECT_FALSE(fs::exists(installation.dir() / "update_rollback"));
  EXPECT_EQ(installation.mainProgramStarts(4).back().args, args);
  const std::vector<std::string> requests = server->requests();
  ASSERT_GE(requests.size(), requestsBefore + 2);
  EXPECT_EQ(requests[requestsBefore], requestLine(kList, 200));
  EXPECT_TRUE(platform::startsWith(requests[requestsBefore + 1],
                                   "GET " + kHealth + "r2&result=rolled_back&exit_code="));

  // The refused release is nothing to do: no file is asked for, no report sent.
  installation.run(args, runOptions());
  const std::vector<std::string> refusedRun = server->requests();
  EXPECT_EQ(std::vector<std::string>(refusedRun.begin() + static_cast<long>(requestsBefore) + 2, refusedRun.end()),
            std::vector<std::string>{requestLine(kList, 200)});

  // A newer release is installed as usual.
  publishRelease(release(), "r3", "stay 60", kVardelTime + 9000);
  const LauncherOutcome newer = installation.run(args, runOptions());
  ASSERT_TRUE(newer.finished);
  EXPECT_EQ(releaseFiles(installation.dir()), releaseFiles(release().platformDir()));
  EXPECT_TRUE(fs::exists(installation.dir() / "update_rollback/state.txt"));
}

}  // namespace e2e
