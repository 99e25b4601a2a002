// The comparison of one manifest entry with the installed file, on real files and links.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "update/update_checker.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::writeFile;

// A fixed local time, in seconds since 1970, given to every prepared file.
constexpr std::int64_t kLocalSeconds = 1700000000;

class EntryComparisonTest : public ::testing::Test {
 protected:
  // A regular file of `size` bytes whose last write is kLocalSeconds plus `extraUnits` (100 ns).
  void makeFile(const std::string& relative, std::size_t size, std::int64_t extraUnits = 0) {
    const fs::path file = install / relative;
    writeFile(file, std::string(size, 'x'));
    ASSERT_FALSE(platform::setLastWriteFileTime(file, platform::unixSecondsToFileTime(kLocalSeconds) + extraUnits));
  }
  void makeLink(const std::string& relative, const std::string& storedTarget) {
    fs::create_directories((install / relative).parent_path());
    fs::create_symlink(storedTarget, install / relative);
  }

  // Checks the decision with and without a reason, and the reason text when one is given.
  void expectDecision(const ManifestEntry& entry, bool needsUpdate, const std::string& expectedReason) {
    std::string reason = "untouched";
    EXPECT_EQ(checker.entryNeedsUpdate(entry, &reason), needsUpdate) << entry.path;
    EXPECT_EQ(reason, needsUpdate ? expectedReason : "untouched") << entry.path;
    EXPECT_EQ(checker.entryNeedsUpdate(entry, nullptr), needsUpdate) << entry.path;
  }

  TempDir install;
  UpdateChecker checker{"http://127.0.0.1:1", "windows", install.path(), install.path() / "update_staging"};
};

struct PlainCase {
  const char* path;
  std::int64_t size;
  std::int64_t mtime;
  bool needsUpdate;
  std::string reason;
};

TEST_F(EntryComparisonTest, PlainFileComparesExistenceThenSizeThenTime) {
  makeFile("same.dll", 10);
  makeFile("bin/tool.exe", 10);
  // 0.9 s after the full second: the local time counts as kLocalSeconds, truncated.
  makeFile("fraction.dat", 4, 9000000);
  makeFile("empty.txt", 0);

  const std::string t = std::to_string(kLocalSeconds);
  const PlainCase cases[] = {
      {"missing.dll", 10, kLocalSeconds, true, "本地不存在"},
      {"bin/missing.dll", 0, 0, true, "本地不存在"},
      {"same.dll", 12, kLocalSeconds + 100, true, "大小不同(本地=10 远端=12)"},  // time not examined
      {"empty.txt", -1, 0, true, "大小不同(本地=0 远端=-1)"},
      {"same.dll", 10, 0, false, ""},  // no server time: equal sizes are enough
      {"same.dll", 10, -5, false, ""},
      {"same.dll", 10, kLocalSeconds, false, ""},
      {"same.dll", 10, kLocalSeconds + 2, false, ""},
      {"same.dll", 10, kLocalSeconds - 2, false, ""},
      {"same.dll", 10, kLocalSeconds + 3, true, "mtime不同(本地=" + t + " 远端=" + std::to_string(kLocalSeconds + 3) + ")"},
      {"same.dll", 10, kLocalSeconds - 3, true, "mtime不同(本地=" + t + " 远端=" + std::to_string(kLocalSeconds - 3) + ")"},
      {"same.dll", 10, INT64_MAX, true, "mtime不同(本地=" + t + " 远端=9223372036854775807)"},
      {"bin/tool.exe", 10, kLocalSeconds + 1, false, ""},
      {"fraction.dat", 4, kLocalSeconds + 2, false, ""},
      {"fraction.dat", 4, kLocalSeconds - 3, true, "mtime不同(本地=" + t + " 远端=" + std::to_string(kLocalSeconds - 3) + ")"},
  };
  for (const PlainCase& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " size " + std::to_string(c.size) + " mtime " + std::to_string(c.mtime));
    expectDecision(ManifestEntry{c.path, c.size, c.mtime, ""}, c.needsUpdate, c.reason);
  }
}

TEST_F(EntryComparisonTest, PlainEntryFollowsLocalLinks) {
  SKIP_WITHOUT_SYMLINKS(install.path());
  makeFile("lib/libz.so.1.2", 7);
  makeLink("lib/libz.so.1", "libz.so.1.2");
  makeLink("lib/dangling.so", "nowhere.so");

  expectDecision({"lib/libz.so.1", 7, kLocalSeconds, ""}, false, "");
  expectDecision({"lib/libz.so.1", 8, kLocalSeconds, ""}, true, "大小不同(本地=7 远端=8)");
  expectDecision({"lib/dangling.so", 7, kLocalSeconds, ""}, true, "本地不存在");
}

struct LinkCase {
  const char* path;
  const char* link;
  bool needsUpdate;
  const char* reason;
};

TEST_F(EntryComparisonTest, LinkEntryComparesTypeThenStoredTarget) {
  SKIP_WITHOUT_SYMLINKS(install.path());
  makeFile("lib/libz.so.1.2", 7);
  makeFile("lib/regular.so", 7);
  fs::create_directories(install / "lib/folder.so");
  makeLink("lib/libz.so.1", "libz.so.1.2");
  // On Linux a backslash is an ordinary character of the stored target; it still reads back
  // with forward slashes, as a Windows link would.
  makeLink("lib/back.so", "..\\lib\\libz.so.1.2");
  makeLink("lib/upper.so", "Libz.so.1.2");
  makeLink("lib/dangling.so", "gone/nowhere.so");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8("sub//libz.so"), install / "lib/collapsed.so"));

  const LinkCase cases[] = {
      {"lib/libz.so.1", "libz.so.1.2", false, ""},
      {"lib/back.so", "../lib/libz.so.1.2", false, ""},
      {"lib/dangling.so", "gone/nowhere.so", false, ""},  // the link itself is judged, not its target
      {"lib/missing.so", "libz.so.1.2", true, "应为软链接但本地不是（需重建）"},
      {"lib/regular.so", "libz.so.1.2", true, "应为软链接但本地不是（需重建）"},
      {"lib/folder.so", "libz.so.1.2", true, "应为软链接但本地不是（需重建）"},
      {"lib/libz.so.1", "libz.so.1.3", true, "软链接目标不同(本地=libz.so.1.2 远端=libz.so.1.3)"},
      {"lib/upper.so", "libz.so.1.2", true, "软链接目标不同(本地=Libz.so.1.2 远端=libz.so.1.2)"},
      {"lib/back.so", "..\\lib\\libz.so.1.2", true,
       "软链接目标不同(本地=../lib/libz.so.1.2 远端=..\\lib\\libz.so.1.2)"},
      // A link made from a doubled slash is stored collapsed and so never equals the manifest.
      {"lib/collapsed.so", "sub//libz.so", true, "软链接目标不同(本地=sub/libz.so 远端=sub//libz.so)"},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " -> " + c.link);
    // Size and time do not matter for a link entry.
    expectDecision(ManifestEntry{c.path, 999, 1, c.link}, c.needsUpdate, c.reason);
  }
}

}  // namespace
