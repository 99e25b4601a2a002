// Linux-only file-system rules: symbolic links, errno values and permission bits.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "tests/support/item_kind.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::ItemKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::kindOf;
using testing_support::writeFile;


TEST(PosixIsNotFoundError, EnoentAndEnotdirInBothCategories) {
  const struct {
    const char* name;
    std::error_code error;
    bool notFound;
  } cases[] = {
      {"ENOENT system", std::error_code(ENOENT, std::system_category()), true},
      {"ENOTDIR system", std::error_code(ENOTDIR, std::system_category()), true},
      {"ENOENT generic", std::error_code(ENOENT, std::generic_category()), true},
      {"ENOTDIR generic", std::error_code(ENOTDIR, std::generic_category()), true},
      {"EACCES", std::error_code(EACCES, std::system_category()), false},
      {"ENAMETOOLONG", std::error_code(ENAMETOOLONG, std::system_category()), false},
      {"ELOOP", std::error_code(ELOOP, std::system_category()), false},
      {"value 2 of another category", std::error_code(ENOENT, std::iostream_category()), false},
      {"no error", std::error_code(), false},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::isNotFoundError(c.error), c.notFound) << c.name;
}

TEST(PosixSymlinks, StoredTargetHasRunsOfSlashesCollapsed) {
  TempDir dir;
  const struct {
    const char* target;
    const char* stored;
  } cases[] = {
      {"../lib//libz.so.1", "../lib/libz.so.1"},
      {"a///b////c", "a/b/c"},
      {"//abs//x", "/abs/x"},
      {"plain.so", "plain.so"},
      {"dir/", "dir/"},
      {"trailing//", "trailing/"},
      {"does/not/exist", "does/not/exist"},
  };
  int index = 0;
  for (const auto& c : cases) {
    const fs::path link = dir / ("link" + std::to_string(index++));
    ASSERT_FALSE(platform::createFileSymlink(c.target, link)) << c.target;
    EXPECT_EQ(kindOf(link, false), ItemKind::Symlink) << c.target;
    platform::NativeString stored;
    ASSERT_FALSE(platform::readSymlinkTarget(link, stored)) << c.target;
    EXPECT_EQ(stored, c.stored) << c.target;
  }
}

TEST(PosixSymlinks, FailuresOfCreationAndReading) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  EXPECT_EQ(platform::createFileSymlink("x", dir / "file.txt").value(), EEXIST) << "an existing item stays";
  EXPECT_EQ(readFile(dir / "file.txt"), "x");
  EXPECT_TRUE(platform::isNotFoundError(platform::createFileSymlink("x", dir / "missing" / "link")));

  platform::NativeString target = "unchanged";
  EXPECT_EQ(platform::readSymlinkTarget(dir / "file.txt", target).value(), EINVAL) << "a file is no link";
  EXPECT_TRUE(platform::isNotFoundError(platform::readSymlinkTarget(dir / "missing", target)));
}

TEST(PosixSymlinks, LongTargetReadsBackWhole) {
  TempDir dir;
  const std::string target = std::string(300, 'a') + "/" + std::string(250, 'b') + "/" + std::string(200, 'c');
  ASSERT_FALSE(platform::createFileSymlink(target, dir / "long"));
  platform::NativeString stored;
  ASSERT_FALSE(platform::readSymlinkTarget(dir / "long", stored));
  EXPECT_EQ(stored, target);
}

TEST(PosixSymlinks, KindsWithAndWithoutFollowing) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  fs::create_directory(dir / "folder");
  fs::create_symlink("file.txt", dir / "to-file");
  fs::create_symlink("folder", dir / "to-folder");
  fs::create_symlink("nowhere", dir / "dangling");
  fs::create_symlink("to-file", dir / "chain");
  fs::create_symlink("loop-b", dir / "loop-a");
  fs::create_symlink("loop-a", dir / "loop-b");
  const struct {
    const char* name;
    ItemKind followed;
    ItemKind itself;
  } cases[] = {
      {"to-file", ItemKind::Regular, ItemKind::Symlink},
      {"to-folder", ItemKind::Directory, ItemKind::Symlink},
      {"dangling", ItemKind::Missing, ItemKind::Symlink},
      {"chain", ItemKind::Regular, ItemKind::Symlink},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kindOf(dir / c.name, true), c.followed) << c.name;
    EXPECT_EQ(kindOf(dir / c.name, false), c.itself) << c.name;
  }
  // A loop is an error, not an absence.
  ItemKind kind;
  EXPECT_EQ(platform::queryItemKind(dir / "loop-a", true, kind).value(), ELOOP);
  EXPECT_EQ(kindOf(dir / "loop-a", false), ItemKind::Symlink);

  std::uint64_t size = 0;
  ASSERT_FALSE(platform::fileSize(dir / "to-file", size));
  EXPECT_EQ(size, 1u);
  std::vector<platform::DirectoryItem> items;
  ASSERT_FALSE(platform::listDirectory(dir.path(), items));
  for (const auto& item : items) {
    const std::string name = item.path.filename();
    const bool isLink = name != "file.txt" && name != "folder";
    EXPECT_EQ(item.kind == ItemKind::Symlink, isLink) << name;
  }
}

// A link or a FIFO at a record's name is refused at once, never followed or waited on.
TEST(PosixSymlinks, SmallFilesAreReadNeitherThroughALinkNorFromAFifo) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  fs::create_symlink("file.txt", dir / "link");
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "fifo").string() + "'").c_str()), 0);
  for (const char* name : {"link", "fifo"}) {
    std::string text;
    bool tooLarge = false;
    EXPECT_TRUE(platform::readSmallFile(dir / name, 64, text, tooLarge)) << name;
  }
}

TEST(PosixSymlinks, TimesFollowTheLink) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  fs::create_symlink("file.txt", dir / "link");
  const std::int64_t moment = platform::unixSecondsToFileTime(1600000000) + 4321;
  ASSERT_FALSE(platform::setLastWriteFileTime(dir / "link", moment));
  std::int64_t read = 0;
  ASSERT_FALSE(platform::lastWriteFileTime(dir / "file.txt", read));
  EXPECT_EQ(read, moment);
  EXPECT_TRUE(platform::isNotFoundError(platform::setLastWriteFileTime(dir / "link-missing", moment)));
}

TEST(PosixRemoval, LinksAreRemovedNeverFollowed) {
  TempDir dir;
  writeFile(dir / "outside" / "keep.txt", "keep");
  writeFile(dir / "outside-file.txt", "keep");
  writeFile(dir / "tree" / "own.txt", "x");
  fs::create_directory_symlink(dir / "outside", dir / "tree" / "dir-link");
  fs::create_symlink(dir / "outside-file.txt", dir / "tree" / "file-link");
  fs::create_symlink("nowhere", dir / "tree" / "dangling");
  fs::create_directory_symlink(dir / "outside", dir / "top-link");

  EXPECT_FALSE(platform::removeItem(dir / "top-link"));
  EXPECT_EQ(kindOf(dir / "top-link", false), ItemKind::Missing);
  EXPECT_FALSE(platform::removeTree(dir / "tree"));
  EXPECT_EQ(kindOf(dir / "tree", false), ItemKind::Missing);

  fs::create_directory_symlink(dir / "outside", dir / "tree-link");
  EXPECT_FALSE(platform::removeTree(dir / "tree-link")) << "a link given as the tree is removed itself";
  EXPECT_EQ(kindOf(dir / "tree-link", false), ItemKind::Missing);

  EXPECT_EQ(readFile(dir / "outside" / "keep.txt"), "keep");
  EXPECT_EQ(readFile(dir / "outside-file.txt"), "keep");
}

TEST(PosixRemoval, FailureInsideTreeIsReported) {
  TempDir dir;
  writeFile(dir / "tree" / "a.txt", "a");
  // A path below a file cannot be a tree: the error is ENOTDIR, which counts as not found.
  EXPECT_FALSE(platform::removeTree(dir / "tree" / "a.txt" / "x"));
  std::error_code notEmpty = platform::removeItem(dir / "tree");
  EXPECT_EQ(notEmpty.value(), ENOTEMPTY);
}

TEST(PosixCopy, TargetLinkIsReplacedAndModeCarried) {
  TempDir dir;
  writeFile(dir / "source.sh", "#!/bin/sh\n");
  fs::permissions(dir / "source.sh", fs::perms(0755));
  writeFile(dir / "elsewhere.txt", "untouched");
  fs::create_symlink(dir / "elsewhere.txt", dir / "target.sh");

  ASSERT_FALSE(platform::copyOverwriting(dir / "source.sh", dir / "target.sh"));
  EXPECT_EQ(kindOf(dir / "target.sh", false), ItemKind::Regular);
  EXPECT_EQ(readFile(dir / "target.sh"), "#!/bin/sh\n");
  EXPECT_EQ(readFile(dir / "elsewhere.txt"), "untouched");
  EXPECT_EQ(fs::status(dir / "target.sh").permissions() & fs::perms::all, fs::perms(0755));

  EXPECT_EQ(platform::copyOverwriting(dir.path(), dir / "copy").value(), EISDIR);
}

TEST(PosixCopy, CopyOntoItselfKeepsTheContent) {
  TempDir dir;
  writeFile(dir / "file.txt", "precious");
  fs::create_hard_link(dir / "file.txt", dir / "hard-link.txt");
  fs::create_symlink("file.txt", dir / "soft-link.txt");
  EXPECT_EQ(platform::copyOverwriting(dir / "file.txt", dir / "file.txt").value(), EINVAL);
  EXPECT_EQ(platform::copyOverwriting(dir / "file.txt", dir / "hard-link.txt").value(), EINVAL);
  EXPECT_EQ(readFile(dir / "file.txt"), "precious");
  // A link at the target is replaced by a copy, which leaves the file it pointed to alone.
  EXPECT_FALSE(platform::copyOverwriting(dir / "file.txt", dir / "soft-link.txt"));
  EXPECT_EQ(readFile(dir / "file.txt"), "precious");
  EXPECT_EQ(readFile(dir / "soft-link.txt"), "precious");
}

TEST(PosixCreateDirectories, ErrorsAreInTheSystemCategory) {
  TempDir dir;
  writeFile(dir / "file", "x");
  const std::error_code error = platform::createDirectories(dir / "file" / "below");
  EXPECT_EQ(error.category(), std::system_category());
  EXPECT_EQ(error.value(), ENOTDIR);
}

TEST(PosixMove, ReplacesADirectoryOnlyWhenEmpty) {
  TempDir dir;
  fs::create_directory(dir / "from");
  fs::create_directory(dir / "empty-target");
  writeFile(dir / "full-target" / "x", "x");
  EXPECT_FALSE(platform::moveReplacing(dir / "from", dir / "empty-target"));
  fs::create_directory(dir / "from");
  EXPECT_EQ(platform::moveReplacing(dir / "from", dir / "full-target").value(), ENOTEMPTY);
}

TEST(PosixPermissions, MakeExecutableAddsExecuteWhereReadIsGranted) {
  TempDir dir;
  const struct {
    unsigned before;
    unsigned after;
  } cases[] = {
      {0644, 0755}, {0600, 0700}, {0640, 0750}, {0444, 0555}, {0755, 0755}, {0200, 0200}, {04644, 04755},
  };
  for (const auto& c : cases) {
    const fs::path file = dir / "program";
    writeFile(file, "x");
    fs::permissions(file, fs::perms(c.before));
    bool executable = true;
    ASSERT_FALSE(platform::isExecutableFile(file, executable));
    EXPECT_EQ(executable, (c.before & 0111) != 0) << std::oct << c.before;
    ASSERT_FALSE(platform::makeExecutable(file)) << std::oct << c.before;
    EXPECT_EQ(static_cast<unsigned>(fs::status(file).permissions() & fs::perms::mask), c.after) << std::oct << c.before;
    ASSERT_FALSE(platform::isExecutableFile(file, executable));
    EXPECT_EQ(executable, (c.after & 0111) != 0) << std::oct << c.before;
    fs::remove(file);
  }
  bool executable = true;
  EXPECT_TRUE(platform::isNotFoundError(platform::isExecutableFile(dir / "missing", executable)));
  EXPECT_TRUE(platform::isNotFoundError(platform::makeExecutable(dir / "missing")));
  ASSERT_FALSE(platform::isExecutableFile(dir.path(), executable));
  EXPECT_FALSE(executable) << "a directory is no executable file";
}

TEST(PosixFileTimes, HundredNanosecondResolutionAndMomentsBefore1970) {
  TempDir dir;
  writeFile(dir / "f", "x");
  const std::int64_t cases[] = {
      platform::kFileTimeUnixEpoch,
      platform::kFileTimeUnixEpoch + 1,
      platform::kFileTimeUnixEpoch - 1,
      platform::kFileTimeUnixEpoch - platform::kFileTimeUnitsPerSecond - 5,
      platform::unixSecondsToFileTime(4102444800LL) + 9999999,  // 2100
  };
  for (std::int64_t fileTime : cases) {
    ASSERT_FALSE(platform::setLastWriteFileTime(dir / "f", fileTime)) << fileTime;
    std::int64_t read = 0;
    ASSERT_FALSE(platform::lastWriteFileTime(dir / "f", read));
    EXPECT_EQ(read, fileTime);
  }
}

}  // namespace
