#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <tuple>
#include <string>
#include <vector>

#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/paths.h"
#include "staging/staging_apply.h"
#include "tests/staging/staging_test_support.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_system.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// The launcher's own list; on Linux it starts with the launcher's file name "Kestrun".
const std::vector<std::string> kLockedPatterns = lockedFilePatterns();

// Where the launcher's own file is "Kestrun" (Linux), that name is locked as well; on Windows
// it is an ordinary name.
#ifdef _WIN32
constexpr bool kBareLauncherNameLocked = false;
#else
constexpr bool kBareLauncherNameLocked = true;
#endif

class StagingApplyTest : public ::testing::Test {
 protected:
  StagingApplyTest() : install(root / "install"), staging(install / "update_staging") {
    fs::create_directories(install);
  }

  int apply(const std::vector<std::string>& forbidden = {}) {
    log.mark();
    const int applied =
        applyStaging(staging, install, staging_test::entriesOfTree(staging), kLockedPatterns, forbidden);
    // The result always equals the count in the summary line.
    const int summarised = staging_test::appliedInSummary(log.linesSinceMark());
    EXPECT_EQ(applied, summarised < 0 ? 0 : summarised);
    return applied;
  }

  void stageLink(const std::string& relative, const std::string& target) {
    fs::create_directories((staging / relative).parent_path());
    ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8(target), staging / relative));
  }

  std::string stagingText() const { return platform::pathToUtf8(staging); }

  staging_test::CapturedLog log;
  testing_support::TempDir root;
  fs::path install;
  fs::path staging;
};

TEST_F(StagingApplyTest, MissingStagingDirectoryLogsOneWarning) {
  EXPECT_EQ(apply(), 0);
  EXPECT_EQ(log.linesSinceMark(),
            (std::vector<std::string>{"WARN 更新落地跳过：暂存目录不存在：" + stagingText()}));
}

TEST_F(StagingApplyTest, AStagingDirectoryThatCannotBeExaminedEndsTheRunWithOneError) {
  SKIP_WITHOUT_SYMLINKS(install);
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("loop"), install / "loop"));
  staging = install / "loop" / "update_staging";
  EXPECT_EQ(apply(), 0);
  EXPECT_EQ(log.linesSinceMark(),
            (std::vector<std::string>{"ERROR 无法检查更新暂存目录：" + stagingText() + "；原因：" +
                                      formatFsError(std::error_code(ELOOP, std::system_category()))}));
}

TEST_F(StagingApplyTest, ALinkedStagingDirectoryIsNeitherEnteredNorRemoved) {
  SKIP_WITHOUT_SYMLINKS(install);
  writeFile(root / "elsewhere/a.dll", "elsewhere");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(root / "elsewhere")), staging));
  EXPECT_EQ(apply(), 0);
  EXPECT_EQ(log.linesSinceMark(), (std::vector<std::string>{"ERROR 更新暂存目录是软链接，跳过落地：" + stagingText()}));
  EXPECT_EQ(readFile(root / "elsewhere/a.dll"), "elsewhere");
  EXPECT_FALSE(fs::exists(fs::symlink_status(install / "a.dll")));
}

TEST_F(StagingApplyTest, EmptyStagingDirectoryIsRemovedWithASummary) {
  fs::create_directories(staging);
  EXPECT_EQ(apply(), 0);
  EXPECT_EQ(log.linesSinceMark(), (std::vector<std::string>{
                                      "INFO 开始更新落地：普通文件=0，软链接=0",
                                      "INFO 更新落地结束：成功=0，失败=0，跳过锁定=0，禁止落地=0",
                                  }));
  EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
}

TEST_F(StagingApplyTest, MovesOnlyTheEntriesThisRunFetched) {
  writeFile(staging / "fetched.dll", "checked");
  writeFile(staging / "stranger.dll", "another run's half");
  log.mark();
  EXPECT_EQ(applyStaging(staging, install, {ManifestEntry{"fetched.dll", 7, 0, ""}}, kLockedPatterns, {}), 1);
  EXPECT_EQ(staging_test::describeTree(install), (std::vector<std::string>{"fetched.dll:checked"}));
}

TEST_F(StagingApplyTest, MovesFilesIntoPlaceAndLeavesOthersAlone) {
  writeFile(install / "keep.txt", "untouched");
  const std::int64_t keptTime = platform::unixSecondsToFileTime(1500000000);
  ASSERT_FALSE(platform::setLastWriteFileTime(install / "keep.txt", keptTime));
  writeFile(install / "app.dll", "old app");
  writeFile(staging / "app.dll", "new app");
  writeFile(staging / "plugins/a.dll", "plugin");
  fs::create_directories(staging / "emptydir");
  const std::int64_t stagedTime = platform::unixSecondsToFileTime(1600000000);
  ASSERT_FALSE(platform::setLastWriteFileTime(staging / "plugins/a.dll", stagedTime));

  EXPECT_EQ(apply(), 2);
  EXPECT_EQ(staging_test::describeTree(install),
            (std::vector<std::string>{"app.dll:new app", "keep.txt:untouched", "plugins/", "plugins/a.dll:plugin"}));
  std::int64_t time = 0;
  ASSERT_FALSE(platform::lastWriteFileTime(install / "keep.txt", time));
  EXPECT_EQ(time, keptTime);
  ASSERT_FALSE(platform::lastWriteFileTime(install / "plugins/a.dll", time));
  EXPECT_EQ(time, stagedTime);
  EXPECT_EQ(log.messages("INFO").back(), "更新落地结束：成功=2，失败=0，跳过锁定=0，禁止落地=0");
}

TEST_F(StagingApplyTest, LockedNamesAreLeftAloneOnlyWhenTheyExist) {
  struct Case {
    const char* name;
    bool installed;
    bool replaced;
  };
  const std::vector<Case> cases = {
      {"Kestrun.exe", true, false},        {"KESTRUN.EXE", true, false},
      {"Kestrun.exe", false, true},        {"vcruntime140_1.dll", true, false},
      {"xvcruntime140.dll", true, true},   {"Kestrun.exe.bak", true, true},
      {"api-ms-win-core-file-l1-1-0.dll", false, true},
      {"Kestrun", true, !kBareLauncherNameLocked},
      {"kestrun", true, !kBareLauncherNameLocked},
      {"Kestrun", false, true},            {"Kestrun.sh", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.installed ? " installed" : " not installed"));
    fs::remove_all(install);
    fs::create_directories(install);
    if (c.installed) writeFile(install / c.name, "installed");
    writeFile(staging / c.name, "staged");

    EXPECT_EQ(apply(), c.replaced ? 1 : 0);
    EXPECT_EQ(readFile(install / c.name), c.replaced ? "staged" : "installed");
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
    EXPECT_EQ(log.messages("INFO").back(), c.replaced ? "更新落地结束：成功=1，失败=0，跳过锁定=0，禁止落地=0"
                                                      : "更新落地结束：成功=0，失败=0，跳过锁定=1，禁止落地=0");
  }
}

TEST_F(StagingApplyTest, BothLauncherNamesAreSkippedTogether) {
  if (!kBareLauncherNameLocked) GTEST_SKIP() << "the launcher is Kestrun.exe itself here";
  writeFile(install / "Kestrun", "installed launcher");
  writeFile(install / "Kestrun.exe", "installed product launcher");
  writeFile(staging / "Kestrun", "staged");
  writeFile(staging / "Kestrun.exe", "staged");
  writeFile(staging / "app.dll", "staged");

  EXPECT_EQ(apply(), 1);
  EXPECT_EQ(staging_test::describeTree(install),
            (std::vector<std::string>{"Kestrun.exe:installed product launcher", "Kestrun:installed launcher",
                                      "app.dll:staged"}));
  EXPECT_EQ(log.linesSinceMark(), (std::vector<std::string>{
                                      "INFO 开始更新落地：普通文件=3，软链接=0",
                                      "INFO 更新落地结束：成功=1，失败=0，跳过锁定=2，禁止落地=0",
                                  }));
}

TEST_F(StagingApplyTest, ForbiddenNamesAreNeverWritten) {
  writeFile(install / "debug.log", "installed");
  writeFile(staging / "debug.log", "staged");
  writeFile(staging / "sub/DEBUG-2.txt", "staged");
  writeFile(staging / "ok.txt", "staged");

  EXPECT_EQ(apply({"debug*"}), 1);
  EXPECT_EQ(staging_test::describeTree(install), (std::vector<std::string>{"debug.log:installed", "ok.txt:staged"}));
  EXPECT_EQ(log.linesSinceMark(), (std::vector<std::string>{
                                      "INFO 开始更新落地：普通文件=3，软链接=0",
                                      "INFO 更新落地结束：成功=1，失败=0，跳过锁定=0，禁止落地=2",
                                  }));
}

TEST_F(StagingApplyTest, LinksReplaceWhateverStandsInTheirPlace) {
  SKIP_WITHOUT_SYMLINKS(install);
  writeFile(install / "lib/inner/file.so", "tree");
  writeFile(install / "vcruntime140.dll", "installed");
  stageLink("lib", "lib.real");
  stageLink("vcruntime140.dll", "runtime/vcruntime140.dll");  // patterns do not apply to links
  stageLink("new/dir/link", "../../missing");
  writeFile(staging / "lib.real/file.so", "real");

  EXPECT_EQ(apply(), 4);
  EXPECT_EQ(staging_test::describeTree(install),
            (std::vector<std::string>{"lib.real/", "lib.real/file.so:real", "lib@lib.real", "new/", "new/dir/",
                                      "new/dir/link@../../missing", "vcruntime140.dll@runtime/vcruntime140.dll"}));
  EXPECT_EQ(log.linesSinceMark().front(), "INFO 开始更新落地：普通文件=1，软链接=3");
}

// Whatever the update replaced or added, a rollback leaves the tree as it was; a planted
// journal line cannot reach outside the installation.
TEST_F(StagingApplyTest, ARollbackPutsTheTreeBackAsItWas) {
  SKIP_WITHOUT_SYMLINKS(install);
  writeFile(install / "lib/inner/file.so", "tree");
  writeFile(install / "a.txt", "old");
  writeFile(root / "outside.txt", "outside");
  const std::vector<std::string> before = staging_test::describeTree(install);
  stageLink("lib", "lib.real");
  writeFile(staging / "lib.real/file.so", "real");
  writeFile(staging / "a.txt", "new");
  writeFile(staging / "new/dir/b.txt", "added");

  RollbackJournal journal;
  std::string errorText;
  ASSERT_TRUE(journal.begin(install, AutoRollback{true, "r9"}, errorText)) << errorText;
  EXPECT_EQ(applyStaging(staging, install, staging_test::entriesOfTree(staging), kLockedPatterns, {}, &journal), 4);
  EXPECT_EQ(std::make_tuple(journal.keptItems(), journal.keptBytes(), journal.addedItems()),
            std::make_tuple(std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{2}));
  ASSERT_TRUE(journal.startProbation());
  std::ofstream(install / "update_rollback/journal.txt", std::ios::app) << "kept\t../outside.txt\nadded\t../outside.txt\n";

  ProbationRecord record;
  ASSERT_TRUE(readProbation(install, record));
  ASSERT_TRUE(rollBackRelease(install, record, true));
  std::vector<std::string> after = staging_test::describeTree(install);
  EXPECT_EQ(after, [&] { auto expected = before; expected.push_back("update_refused.txt:r9\n"); return expected; }());
  EXPECT_EQ(readFile(root / "outside.txt"), "outside");
  EXPECT_TRUE(isRefusedRelease(install, "r9"));
  EXPECT_FALSE(isRefusedRelease(install, "r8"));

  // A link planted in the folder's place is neither read nor written through.
  writeFile(root / "elsewhere/state.txt", "stage\tapplying\nrelease\tr9\n");
  fs::create_directory_symlink(root / "elsewhere", install / "update_rollback");
  EXPECT_FALSE(readProbation(install, record));
  endProbation(install);
  EXPECT_FALSE(fs::exists(fs::symlink_status(install / "update_rollback")));
  EXPECT_EQ(readFile(root / "elsewhere/state.txt"), "stage\tapplying\nrelease\tr9\n");
}

TEST_F(StagingApplyTest, ATargetThatCannotBeReplacedFailsAfterItsRetries) {
  writeFile(install / "busy.bin/inside.txt", "a non-empty directory where the file belongs");
  writeFile(staging / "busy.bin", "staged");
  writeFile(staging / "ok.txt", "staged");

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(apply(), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4900));
  EXPECT_EQ(readFile(install / "ok.txt"), "staged");
  EXPECT_EQ(readFile(install / "busy.bin/inside.txt"), "a non-empty directory where the file belongs");
  EXPECT_EQ(log.messages("ERROR"),
            (std::vector<std::string>{"更新文件落地失败：busy.bin；原因：" +
                                      formatFsError(testing_support::systemErrorFor(std::errc::directory_not_empty))}));
  EXPECT_EQ(log.messages("INFO").back(), "更新落地结束：成功=1，失败=1，跳过锁定=0，禁止落地=0");
  EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
}

TEST_F(StagingApplyTest, ATargetWhoseStatusCannotBeReadIsCountedAsFailed) {
  SKIP_WITHOUT_SYMLINKS(install);
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("loop"), install / "loop"));
  writeFile(staging / "loop/x.dll", "staged");

  EXPECT_EQ(apply(), 0);
  EXPECT_EQ(log.messages("ERROR"),
            (std::vector<std::string>{"检查目标文件失败：loop/x.dll；原因：" +
                                      formatFsError(std::error_code(ELOOP, std::system_category()))}));
  EXPECT_EQ(log.messages("INFO").back(), "更新落地结束：成功=0，失败=1，跳过锁定=0，禁止落地=0");
}

// The manifest carries no permission bits: a replaced file keeps its executable bit, and the
// main program at the top of the installation can always be started.
TEST_F(StagingApplyTest, KeepsTheExecutableBitAndMakesTheMainProgramRunnable) {
  if (testing_support::kWindowsBuild) GTEST_SKIP() << "Windows files carry no executable bit";
  struct Case {
    const char* name;
    const char* installedMode;  // nullptr: not installed
    bool executable;
  };
  const std::vector<Case> cases = {
      {"tool.sh", "executable", true},      {"data.txt", "plain", false},
      {"Vardel.exe", nullptr, true},        {"Vardel.exe", "plain", true},
      {"sub/Vardel.exe", nullptr, false},   {"new.bin", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(install);
    fs::create_directories(install);
    if (c.installedMode != nullptr) {
      writeFile(install / c.name, "installed");
      if (std::string(c.installedMode) == "executable") {
        ASSERT_FALSE(platform::makeExecutable(install / c.name));
      }
    }
    writeFile(staging / c.name, "staged");

    EXPECT_EQ(apply(), 1);
    bool executable = !c.executable;
    ASSERT_FALSE(platform::isExecutableFile(install / c.name, executable));
    EXPECT_EQ(executable, c.executable);
  }
}

TEST(MoveStagedFile, RaisesWhenTheTargetStatusCannotBeRead) {
  testing_support::TempDir root;
  SKIP_WITHOUT_SYMLINKS(root.path());
  writeFile(root / "staged.dll", "staged");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("loop"), root / "loop"));
  std::error_code error;
  try {
    moveStagedFile(root / "staged.dll", root / "loop/x.dll", error);
    FAIL() << "no error raised";
  } catch (const fs::filesystem_error& raised) {
    EXPECT_EQ(raised.code(), std::error_code(ELOOP, std::system_category()));
    EXPECT_EQ(raised.path1(), root / "loop/x.dll");
    EXPECT_TRUE(raised.path2().empty());
  }
}

}  // namespace
