// Manifests come from the network. Whatever they say, an update never creates, changes or
// removes anything outside the installation directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/download_pending.h"
#include "staging/staging_apply.h"
#include "tests/staging/staging_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "update/update_checker.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// root/ holds the installation and, next to it, a directory a hostile manifest aims at.
class HostileManifestTest : public ::testing::Test {
 protected:
  HostileManifestTest() : install(root / "install"), staging(install / "update_staging"), outside(root / "outside") {
    writeFile(install / "Vardel.exe", "installed program");
    writeFile(install / "x", "installed x");
    writeFile(staging / "left.dll", "left over");
    fs::create_directories(outside);
    server.server().Get("/gis/update/file", [this](const httplib::Request&, httplib::Response& response) {
      ++fileRequests;
      response.set_content("hostile bytes", "application/octet-stream");
    });
    server.start();
  }

  // The update phase: the staging directory is applied only after a successful download.
  bool runUpdate(const std::vector<ManifestEntry>& pending, std::string& errorText) {
    UpdateChecker checker(server.baseUrl(), "windows", install, staging);
    checker.pending = pending;
    if (!downloadPending(checker, nullptr, errorText)) return false;
    applyStaging(staging, install, checker.pending, {}, {});
    return true;
  }

  staging_test::CapturedLog log;
  testing_support::TempDir root;
  std::atomic<int> fileRequests{0};
  testing_support::LoopbackServer server;
  fs::path install;
  fs::path staging;
  fs::path outside;
};

ManifestEntry fileEntry(const std::string& path) { return ManifestEntry{path, 13, 0, ""}; }
ManifestEntry linkEntry(const std::string& path, const std::string& target) {
  return ManifestEntry{path, 0, 0, target};
}

TEST_F(HostileManifestTest, RefusesTheWholeManifestBeforeWritingAnything) {
  const std::string outsideText = platform::pathToUtf8(outside);
  struct Case {
    std::vector<ManifestEntry> pending;
    std::string offending;
  };
  const std::vector<Case> cases = {
      {{fileEntry("ok.dll"), fileEntry("../x")}, "../x"},
      {{fileEntry("../../x")}, "../../x"},
      {{fileEntry("a/../../x")}, "a/../../x"},
      {{fileEntry("a/../../../x")}, "a/../../../x"},
      {{fileEntry(outsideText + "/abs.dll")}, outsideText + "/abs.dll"},
      {{linkEntry("/abs/link", "x")}, "/abs/link"},
      {{linkEntry("lib", outsideText), fileEntry("lib/x")}, "lib/x"},
      {{fileEntry("lib/x"), linkEntry("lib", outsideText)}, "lib/x"},
      {{linkEntry("up", ".."), linkEntry("up/up", ".."), fileEntry("up/up/x")}, "up/up"},
      {{fileEntry("ok.dll"), fileEntry("notes?.txt")}, "notes?.txt"},
      {{fileEntry("a<b>.txt")}, "a<b>.txt"},
  };
  const std::vector<std::string> rootBefore = staging_test::describeTree(root.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offending);
    std::string errorText;
    EXPECT_FALSE(runUpdate(c.pending, errorText));
    EXPECT_EQ(errorText, "更新清单路径不安全：" + c.offending);
    EXPECT_EQ(staging_test::describeTree(root.path()), rootBefore);
  }
  EXPECT_TRUE(staging_test::describeTree(outside).empty());
  EXPECT_EQ(fileRequests, 0);
}

TEST_F(HostileManifestTest, ApplyNeverWritesThroughALinkedDirectoryOfTheInstallation) {
  SKIP_WITHOUT_SYMLINKS(install);
  // An earlier release left a link where a directory is now expected.
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(outside)), install / "lib"));
  fs::remove_all(staging);
  writeFile(staging / "lib/x.dll", "staged");
  writeFile(staging / "lib/deeper/y.dll", "staged");
  fs::create_directories(staging / "lib/sub");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("z"), staging / "lib/sub/link"));
  writeFile(staging / "ok.dll", "staged");
  const std::vector<std::string> rootBefore = staging_test::describeTree(root.path());

  log.mark();
  EXPECT_EQ(applyStaging(staging, install, staging_test::entriesOfTree(staging), {}, {}), 1);
  EXPECT_TRUE(staging_test::describeTree(outside).empty());
  EXPECT_EQ(readFile(install / "ok.dll"), "staged");
  std::vector<std::string> errors = log.messages("ERROR");
  std::sort(errors.begin(), errors.end());
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "更新落地路径不安全：lib/deeper/y.dll；原因：上级目录是软链接：lib",
                        "更新落地路径不安全：lib/sub/link；原因：上级目录是软链接：lib",
                        "更新落地路径不安全：lib/x.dll；原因：上级目录是软链接：lib",
                    }));
  EXPECT_EQ(log.messages("INFO").back(), "更新落地结束：成功=1，失败=3，跳过锁定=0，禁止落地=0");
  // Only the installation changed.
  const auto outsideInstall = [](std::vector<std::string> listing) {
    listing.erase(std::remove_if(listing.begin(), listing.end(),
                                 [](const std::string& item) { return item.rfind("install/", 0) == 0; }),
                  listing.end());
    return listing;
  };
  EXPECT_EQ(outsideInstall(staging_test::describeTree(root.path())), outsideInstall(rootBefore));
}

TEST_F(HostileManifestTest, AppliedFileReplacesALinkInsteadOfWritingThroughIt) {
  SKIP_WITHOUT_SYMLINKS(install);
  writeFile(outside / "victim.dll", "outside content");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(outside / "victim.dll")),
                                           install / "a.dll"));
  std::string errorText;
  ASSERT_TRUE(runUpdate({fileEntry("a.dll")}, errorText)) << errorText;
  EXPECT_EQ(readFile(outside / "victim.dll"), "outside content");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install / "a.dll")));
  EXPECT_EQ(readFile(install / "a.dll"), "hostile bytes");
}

TEST_F(HostileManifestTest, FileEntryAfterALinkEntryOfTheSamePathNeverWritesThroughIt) {
  SKIP_WITHOUT_SYMLINKS(install);
  writeFile(outside / "victim.dll", "outside content");
  const std::string victimText = platform::pathToUtf8(outside / "victim.dll");
  struct Case {
    std::vector<ManifestEntry> pending;
  };
  const std::vector<Case> cases = {
      {{linkEntry("a.dll", victimText), fileEntry("a.dll")}},
      {{linkEntry("sub/a.dll", victimText), fileEntry("sub/a.dll")}},
      {{linkEntry("a.dll", "../../outside/victim.dll"), fileEntry("a.dll")}},
  };
  for (const Case& c : cases) {
    const std::string path = c.pending.back().path;
    SCOPED_TRACE(c.pending.front().link);
    std::string errorText;
    ASSERT_TRUE(runUpdate(c.pending, errorText)) << errorText;
    EXPECT_EQ(readFile(outside / "victim.dll"), "outside content");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install / path)));
    EXPECT_EQ(readFile(install / path), "hostile bytes");
  }
}

}  // namespace
