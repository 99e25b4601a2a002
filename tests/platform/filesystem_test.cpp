// File-system rules that hold on both systems. Link cases live with the POSIX tests, since
// link creation on Windows depends on the account's rights.
#include "platform/filesystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/file_mapping.h"
#include "platform/text.h"
#include "tests/support/item_kind.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::ItemKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::kindOf;
using testing_support::writeFile;


// 2021-06-15 12:34:56 UTC plus 0.1234567 s, in FILETIME units.
constexpr std::int64_t kSampleFileTime = 132682340960000000LL + 1234567;

TEST(QueryItemKind, KindsAndAbsence) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  fs::create_directory(dir / "folder");
  const struct {
    const char* name;
    fs::path path;
    ItemKind expected;
  } cases[] = {
      {"regular file", dir / "file.txt", ItemKind::Regular},
      {"directory", dir / "folder", ItemKind::Directory},
      {"missing item", dir / "missing.txt", ItemKind::Missing},
      {"missing parent", dir / "missing" / "child.txt", ItemKind::Missing},
      {"below a regular file", dir / "file.txt" / "child.txt", ItemKind::Missing},
  };
  for (const auto& c : cases) {
    for (bool follow : {true, false}) {
      EXPECT_EQ(kindOf(c.path, follow), c.expected) << c.name << (follow ? " (following)" : "");
    }
  }
}

// A record of the launcher's own is read whole only up to its bound, and only as a file.
TEST(ReadSmallFile, WholeUpToItsBoundAndNothingElse) {
  TempDir dir;
  writeFile(dir / "eight.txt", "12345678");
  fs::create_directory(dir / "folder");
  const struct {
    const char* name;
    fs::path path;
    std::size_t limit;
    bool readable, tooLarge;
    std::string text;
  } cases[] = {
      {"within the bound", dir / "eight.txt", 9, true, false, "12345678"},
      {"at the bound", dir / "eight.txt", 8, true, false, "12345678"},
      {"above the bound", dir / "eight.txt", 7, true, true, ""},
      {"a folder", dir / "folder", 64, false, false, ""},
      {"missing", dir / "missing.txt", 64, false, false, ""},
  };
  for (const auto& c : cases) {
    std::string text = "stale";
    bool tooLarge = !c.tooLarge;
    EXPECT_EQ(!platform::readSmallFile(c.path, c.limit, text, tooLarge), c.readable) << c.name;
    EXPECT_EQ(tooLarge, c.tooLarge && c.readable) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
}

TEST(QueryItemStatus, KindSizeAndTimeTogether) {
  TempDir dir;
  constexpr std::uint64_t kLargeSize = (std::uint64_t{1} << 32) + 10;  // needs the size's high half
  const std::int64_t kDayOne = platform::unixSecondsToFileTime(86400);
  writeFile(dir / "file.bin", "0123456789");
  writeFile(dir / "empty.txt", "");
  writeFile(dir / "large.bin", "");
  fs::resize_file(dir / "large.bin", kLargeSize);  // sparse where the file system allows
  fs::create_directory(dir / "folder");
  ASSERT_FALSE(platform::setLastWriteFileTime(dir / "file.bin", kSampleFileTime));
  ASSERT_FALSE(platform::setLastWriteFileTime(dir / "empty.txt", kDayOne));
  ASSERT_FALSE(platform::setLastWriteFileTime(dir / "large.bin", kSampleFileTime + 1));
  // Windows grants link creation only to some accounts; the link rows need it.
  const bool linksMade = !platform::createFileSymlink(platform::fromUtf8("file.bin"), dir / "link.bin") &&
                         !platform::createFileSymlink(platform::fromUtf8("gone.bin"), dir / "dangling.bin");

  constexpr std::int64_t kUnchecked = -1;
  const struct {
    const char* name;
    fs::path path;
    bool followLinks;
    ItemKind kind;
    std::int64_t size;
    std::int64_t fileTime;
    bool isLinkCase;
  } cases[] = {
      {"regular file", dir / "file.bin", true, ItemKind::Regular, 10, kSampleFileTime, false},
      {"regular file, links not followed", dir / "file.bin", false, ItemKind::Regular, 10, kSampleFileTime, false},
      {"empty file", dir / "empty.txt", true, ItemKind::Regular, 0, kDayOne, false},
      {"file beyond 4 GiB", dir / "large.bin", true, ItemKind::Regular, static_cast<std::int64_t>(kLargeSize),
       kSampleFileTime + 1, false},
      {"directory", dir / "folder", true, ItemKind::Directory, kUnchecked, kUnchecked, false},
      {"missing item", dir / "missing.bin", true, ItemKind::Missing, 0, 0, false},
      {"missing parent", dir / "missing" / "child.bin", false, ItemKind::Missing, 0, 0, false},
      {"below a regular file", dir / "file.bin" / "child.bin", true, ItemKind::Missing, 0, 0, false},
      {"link followed to its file", dir / "link.bin", true, ItemKind::Regular, 10, kSampleFileTime, true},
      {"link itself", dir / "link.bin", false, ItemKind::Symlink, kUnchecked, kUnchecked, true},
      {"dangling link followed", dir / "dangling.bin", true, ItemKind::Missing, 0, 0, true},
      {"dangling link itself", dir / "dangling.bin", false, ItemKind::Symlink, kUnchecked, kUnchecked, true},
  };
  for (const auto& c : cases) {
    if (c.isLinkCase && !linksMade) continue;
    platform::ItemStatus status{ItemKind::Other, 99, 99};  // every field is rewritten
    const std::error_code error = platform::queryItemStatus(c.path, c.followLinks, status);
    EXPECT_FALSE(error) << c.name << ": " << error.value() << " " << error.message();
    EXPECT_EQ(status.kind, c.kind) << c.name;
    if (c.size != kUnchecked) {
      EXPECT_EQ(status.size, static_cast<std::uint64_t>(c.size)) << c.name;
    }
    if (c.fileTime != kUnchecked) {
      EXPECT_EQ(status.lastWriteFileTime, c.fileTime) << c.name;
    }
  }
  if (!linksMade) GTEST_SKIP() << "link rows skipped: this account cannot create symbolic links here";
}

TEST(FileSizeAndTimes, SizeFollowsContent) {
  TempDir dir;
  const struct {
    const char* name;
    std::string content;
  } cases[] = {{"empty", ""}, {"ten bytes", "0123456789"}, {"one megabyte", std::string(1 << 20, 'k')}};
  for (const auto& c : cases) {
    writeFile(dir / "f.bin", c.content);
    std::uint64_t size = 99;
    ASSERT_FALSE(platform::fileSize(dir / "f.bin", size)) << c.name;
    EXPECT_EQ(size, c.content.size()) << c.name;
  }
  std::uint64_t size = 0;
  const std::error_code missing = platform::fileSize(dir / "missing.bin", size);
  EXPECT_TRUE(platform::isNotFoundError(missing)) << missing.message();
}

TEST(FileSizeAndTimes, LastWriteTimeRoundTripsInHundredNanosecondUnits) {
  TempDir dir;
  const auto file = dir / "timed.txt";
  writeFile(file, "x");
  for (std::int64_t fileTime : {kSampleFileTime, kSampleFileTime + 1, platform::unixSecondsToFileTime(86400)}) {
    ASSERT_FALSE(platform::setLastWriteFileTime(file, fileTime));
    std::int64_t read = 0;
    ASSERT_FALSE(platform::lastWriteFileTime(file, read));
    EXPECT_EQ(read, fileTime);
  }
  std::int64_t read = 0;
  EXPECT_TRUE(platform::isNotFoundError(platform::lastWriteFileTime(dir / "missing", read)));
  EXPECT_TRUE(platform::isNotFoundError(platform::setLastWriteFileTime(dir / "missing", kSampleFileTime)));
}

TEST(FileSizeAndTimes, NewFileCarriesTheCurrentTime) {
  TempDir dir;
  const std::int64_t before = platform::currentFileTime();
  writeFile(dir / "new.txt", "x");
  std::int64_t written = 0;
  ASSERT_FALSE(platform::lastWriteFileTime(dir / "new.txt", written));
  // Generous bounds: file systems round times, and clocks differ by a little.
  EXPECT_GT(written, before - 10 * platform::kFileTimeUnitsPerSecond);
  EXPECT_LT(written, platform::currentFileTime() + 10 * platform::kFileTimeUnitsPerSecond);

  const auto systemSeconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(platform::fileTimeToUnixSeconds(platform::currentFileTime())),
              static_cast<double>(systemSeconds), 60.0);
}

TEST(FileTimeConversion, SecondsTruncateTowardZero) {
  const struct {
    std::int64_t fileTime;
    std::int64_t seconds;
  } cases[] = {
      {platform::kFileTimeUnixEpoch, 0},
      {platform::kFileTimeUnixEpoch + 9999999, 0},
      {platform::kFileTimeUnixEpoch + 10000000, 1},
      {platform::kFileTimeUnixEpoch - 1, 0},
      {platform::kFileTimeUnixEpoch - 10000000, -1},
      {platform::kFileTimeUnixEpoch - 15000000, -1},
      {kSampleFileTime, 1623760496},
      {0, -11644473600LL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::fileTimeToUnixSeconds(c.fileTime), c.seconds) << c.fileTime;
  }
  for (std::int64_t seconds : {0LL, 1LL, -1LL, 1623760496LL, -11644473600LL}) {
    EXPECT_EQ(platform::fileTimeToUnixSeconds(platform::unixSecondsToFileTime(seconds)), seconds) << seconds;
  }
  EXPECT_EQ(platform::unixSecondsToFileTime(0), platform::kFileTimeUnixEpoch);
}

TEST(CreateDirectories, MakesMissingParentsAndAcceptsExisting) {
  TempDir dir;
  const auto deep = dir / "a" / "b" / "c";
  EXPECT_FALSE(platform::createDirectories(deep));
  EXPECT_EQ(kindOf(deep), ItemKind::Directory);
  EXPECT_FALSE(platform::createDirectories(deep)) << "an existing directory is no error";

  writeFile(dir / "file", "x");
  EXPECT_TRUE(platform::createDirectories(dir / "file")) << "a file is in the way";
  EXPECT_TRUE(platform::createDirectories(dir / "file" / "below")) << "a file is in the way";
}

TEST(RemoveItem, FilesEmptyDirectoriesAndMissingItems) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  writeFile(dir / "readonly.txt", "x");
  fs::permissions(dir / "readonly.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directory(dir / "empty");
  const struct {
    const char* name;
    fs::path path;
  } removable[] = {
      {"file", dir / "file.txt"},
      {"read-only file", dir / "readonly.txt"},
      {"empty directory", dir / "empty"},
      {"missing item", dir / "missing"},
      {"below a missing directory", dir / "missing" / "child"},
  };
  for (const auto& c : removable) {
    EXPECT_FALSE(platform::removeItem(c.path)) << c.name;
    EXPECT_EQ(kindOf(c.path), ItemKind::Missing) << c.name;
  }

  writeFile(dir / "full" / "inside.txt", "x");
  EXPECT_TRUE(platform::removeItem(dir / "full")) << "a directory with content stays";
  EXPECT_EQ(readFile(dir / "full" / "inside.txt"), "x");
}

TEST(RemoveTree, WholeTreesSingleFilesAndMissingItems) {
  TempDir dir;
  writeFile(dir / "tree" / "a.txt", "a");
  writeFile(dir / "tree" / "sub" / "b.txt", "b");
  writeFile(dir / "tree" / "sub" / "deeper" / "c.txt", "c");
  fs::create_directories(dir / "tree" / "empty");
  fs::permissions(dir / "tree" / "sub" / "b.txt", fs::perms::owner_read);
  writeFile(dir / "single.txt", "s");

  EXPECT_FALSE(platform::removeTree(dir / "tree"));
  EXPECT_EQ(kindOf(dir / "tree"), ItemKind::Missing);
  EXPECT_FALSE(platform::removeTree(dir / "single.txt"));
  EXPECT_EQ(kindOf(dir / "single.txt"), ItemKind::Missing);
  EXPECT_FALSE(platform::removeTree(dir / "missing"));
}

TEST(MoveAndCopy, ReplaceExistingTargets) {
  TempDir dir;
  writeFile(dir / "new.txt", "new");
  writeFile(dir / "target.txt", "a much longer old content");
  EXPECT_FALSE(platform::moveReplacing(dir / "new.txt", dir / "target.txt"));
  EXPECT_EQ(readFile(dir / "target.txt"), "new");
  EXPECT_EQ(kindOf(dir / "new.txt"), ItemKind::Missing);

  EXPECT_FALSE(platform::moveReplacing(dir / "target.txt", dir / "fresh.txt")) << "a missing target is fine";
  EXPECT_EQ(readFile(dir / "fresh.txt"), "new");

  const std::error_code missingSource = platform::moveReplacing(dir / "missing.txt", dir / "fresh.txt");
  EXPECT_TRUE(platform::isNotFoundError(missingSource)) << missingSource.message();
  EXPECT_EQ(readFile(dir / "fresh.txt"), "new");

  writeFile(dir / "source.bin", "copied");
  writeFile(dir / "copy.bin", "an older and longer content");
  EXPECT_FALSE(platform::copyOverwriting(dir / "source.bin", dir / "copy.bin"));
  EXPECT_EQ(readFile(dir / "copy.bin"), "copied");
  EXPECT_EQ(readFile(dir / "source.bin"), "copied") << "the source stays";
  EXPECT_FALSE(platform::copyOverwriting(dir / "source.bin", dir / "new-copy.bin"));
  EXPECT_EQ(readFile(dir / "new-copy.bin"), "copied");

  EXPECT_TRUE(platform::isNotFoundError(platform::copyOverwriting(dir / "missing.bin", dir / "copy.bin")));
  EXPECT_EQ(readFile(dir / "copy.bin"), "copied");
}

TEST(FileMapping, MapsWholeFilesAndLetsGoOfThemWhenClosed) {
  TempDir dir;
  writeFile(dir / "base.bin", "installed bytes");
  writeFile(dir / "empty.bin", "");
  writeFile(dir / "new.bin", "new");
  platform::FileMapping mapping;
  ASSERT_FALSE(mapping.open(dir / "base.bin"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapping.data()), mapping.size()), "installed bytes");

  EXPECT_FALSE(mapping.open(dir / "empty.bin")) << "an empty file maps to no bytes";
  EXPECT_EQ(mapping.size(), 0u);
  EXPECT_TRUE(mapping.open(dir / "missing.bin"));
  EXPECT_TRUE(mapping.open(dir.path())) << "a directory is no file";
  EXPECT_EQ(mapping.size(), 0u);

  // The update replaces the installed file once its patch is decoded: the closed mapping
  // (on Windows a view holds the file against replacement) must not stand in the way.
  ASSERT_FALSE(mapping.open(dir / "base.bin"));
  mapping.close();
  EXPECT_FALSE(platform::moveReplacing(dir / "new.bin", dir / "base.bin"));
  EXPECT_EQ(readFile(dir / "base.bin"), "new");
}

TEST(ListDirectory, ItemsWithTheirKinds) {
  TempDir dir;
  writeFile(dir / "one.txt", "1");
  writeFile(dir / "two.log", "2");
  fs::create_directory(dir / "sub");
  writeFile(dir / "sub" / "nested.txt", "not listed");

  std::vector<platform::DirectoryItem> items;
  ASSERT_FALSE(platform::listDirectory(dir.path(), items));
  std::vector<std::pair<std::string, ItemKind>> found;
  for (const auto& item : items) {
    EXPECT_EQ(item.path.parent_path(), dir.path());
    found.emplace_back(item.path.filename().u8string(), item.kind);
  }
  std::sort(found.begin(), found.end());
  const std::vector<std::pair<std::string, ItemKind>> expected = {
      {"one.txt", ItemKind::Regular}, {"sub", ItemKind::Directory}, {"two.log", ItemKind::Regular}};
  EXPECT_EQ(found, expected);

  items.clear();
  ASSERT_FALSE(platform::listDirectory(dir / "sub" / "..", items));
  EXPECT_EQ(items.size(), 3u);

  items.clear();
  const std::error_code missing = platform::listDirectory(dir / "missing", items);
  EXPECT_TRUE(platform::isNotFoundError(missing)) << missing.message();
  EXPECT_TRUE(items.empty());
}

TEST(IsNotFoundError, NoErrorIsNotNotFound) { EXPECT_FALSE(platform::isNotFoundError(std::error_code())); }

}  // namespace
