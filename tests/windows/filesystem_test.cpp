// File-system behaviour that is particular to Windows: its not-found codes, read-only and
// locked files, and paths with either separator.
#include "platform/filesystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::ItemKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

std::error_code systemError(DWORD code) { return std::error_code(static_cast<int>(code), std::system_category()); }

bool itemExists(const fs::path& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A file held open by someone who allows reading only, as a running program holds its files.
struct HeldOpen {
  explicit HeldOpen(const fs::path& path)
      : handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  HANDLE handle;
};

TEST(NotFoundErrors, TheSixWindowsCodesAndNothingElse) {
  const struct {
    std::error_code error;
    bool notFound;
  } cases[] = {
      {systemError(ERROR_FILE_NOT_FOUND), true},     {systemError(ERROR_PATH_NOT_FOUND), true},
      {systemError(ERROR_BAD_NETPATH), true},        {systemError(ERROR_NETNAME_DELETED), true},
      {systemError(ERROR_INVALID_NAME), true},       {systemError(ERROR_DIRECTORY), true},
      {systemError(ERROR_SUCCESS), false},           {systemError(ERROR_ACCESS_DENIED), false},
      {systemError(ERROR_SHARING_VIOLATION), false}, {systemError(ERROR_BAD_DEV_TYPE), false},
      {systemError(ERROR_NOT_READY), false},         {std::error_code(ENOENT, std::generic_category()), true},
      {std::error_code(EACCES, std::generic_category()), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::isNotFoundError(c.error), c.notFound) << c.error.category().name() << " " << c.error.value();
  }
}

TEST(NotFoundErrors, PathsThatCannotExistAreMissingWithoutError) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  const struct {
    const char* name;
    fs::path path;
  } cases[] = {
      {"missing file", dir / "missing.txt"},
      {"missing parent", dir / "missing" / "child.txt"},
      {"name with a character Windows forbids", dir / "bad<name>.txt"},
      {"below a regular file", dir / "file.txt" / "child.txt"},
      {"forward slashes", fs::path(dir.path().native() + L"/missing/child.txt")},
  };
  for (const auto& c : cases) {
    for (bool follow : {true, false}) {
      ItemKind kind = ItemKind::Other;
      EXPECT_FALSE(platform::queryItemKind(c.path, follow, kind)) << c.name;
      EXPECT_EQ(kind, ItemKind::Missing) << c.name;
    }
    std::uint64_t size = 0;
    const std::error_code sizeError = platform::fileSize(c.path, size);
    EXPECT_TRUE(platform::isNotFoundError(sizeError)) << c.name << ": " << sizeError.value();
    EXPECT_FALSE(platform::removeItem(c.path)) << c.name;
    EXPECT_FALSE(platform::removeTree(c.path)) << c.name;
  }
}

TEST(RemoveItem, ReadOnlyItemsAreRemovedAsWell) {
  TempDir dir;
  writeFile(dir / "readonly.dll", "x");
  ASSERT_TRUE(SetFileAttributesW((dir / "readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  CreateDirectoryW((dir / "readonly-dir").c_str(), nullptr);
  ASSERT_TRUE(SetFileAttributesW((dir / "readonly-dir").c_str(), FILE_ATTRIBUTE_READONLY));
  for (const fs::path& item : {dir / "readonly.dll", dir / "readonly-dir"}) {
    const std::error_code error = platform::removeItem(item);
    EXPECT_FALSE(error) << item << ": " << error.value();
    EXPECT_FALSE(itemExists(item)) << item;
  }
}

TEST(RemoveItem, FileHeldWithoutDeleteSharingStaysAndReportsTheLock) {
  TempDir dir;
  writeFile(dir / "Vardel.exe", "running");
  HeldOpen running(dir / "Vardel.exe");
  ASSERT_NE(running.handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform::removeItem(dir / "Vardel.exe"), systemError(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(readFile(dir / "Vardel.exe"), "running");
}

TEST(RemoveTree, ReadOnlyFilesDeepInsideAreRemoved) {
  TempDir dir;
  writeFile(dir / "staging" / "bin" / "tool.exe", "t");
  writeFile(dir / "staging" / "bin" / "lib" / "a.dll", "a");
  ASSERT_TRUE(SetFileAttributesW((dir / "staging" / "bin" / "lib" / "a.dll").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::removeTree(dir / "staging"));
  EXPECT_FALSE(itemExists(dir / "staging"));
}

TEST(MoveReplacing, ReplacesTheTargetUnlessItIsHeldOpen) {
  TempDir dir;
  writeFile(dir / "staged.dll", "new");
  writeFile(dir / "installed.dll", "old and longer");
  EXPECT_FALSE(platform::moveReplacing(dir / "staged.dll", dir / "installed.dll"));
  EXPECT_EQ(readFile(dir / "installed.dll"), "new");
  EXPECT_FALSE(itemExists(dir / "staged.dll"));

  writeFile(dir / "staged.dll", "newer");
  {
    HeldOpen running(dir / "installed.dll");
    ASSERT_NE(running.handle, INVALID_HANDLE_VALUE);
    const std::error_code error = platform::moveReplacing(dir / "staged.dll", dir / "installed.dll");
    EXPECT_TRUE(error == systemError(ERROR_SHARING_VIOLATION) || error == systemError(ERROR_ACCESS_DENIED))
        << error.value();
    EXPECT_EQ(readFile(dir / "installed.dll"), "new");
    EXPECT_EQ(readFile(dir / "staged.dll"), "newer");
  }
  EXPECT_FALSE(platform::moveReplacing(dir / "staged.dll", dir / "installed.dll")) << "free again";
  EXPECT_EQ(readFile(dir / "installed.dll"), "newer");
}

TEST(CreateDirectories, EitherSeparatorAndAFileInTheWay) {
  TempDir dir;
  const fs::path mixed(dir.path().native() + L"\\a/b\\\\c/");
  EXPECT_FALSE(platform::createDirectories(mixed));
  ItemKind kind = ItemKind::Missing;
  ASSERT_FALSE(platform::queryItemKind(dir / "a" / "b" / "c", true, kind));
  EXPECT_EQ(kind, ItemKind::Directory);

  writeFile(dir / "logs", "a file where the log directory belongs");
  EXPECT_EQ(platform::createDirectories(dir / "logs"), systemError(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(platform::createDirectories(dir / "logs" / "deeper"), systemError(ERROR_ALREADY_EXISTS));
}

TEST(FileTimes, DirectoriesCarryTimesToo) {
  TempDir dir;
  CreateDirectoryW((dir / "plugins").c_str(), nullptr);
  constexpr std::int64_t kTime = 132682340961234567LL;
  ASSERT_FALSE(platform::setLastWriteFileTime(dir / "plugins", kTime));
  std::int64_t read = 0;
  ASSERT_FALSE(platform::lastWriteFileTime(dir / "plugins", read));
  EXPECT_EQ(read, kTime);
}

TEST(ListDirectory, DriveLetterPathsAndAFileInsteadOfADirectory) {
  TempDir dir;
  writeFile(dir / "one.txt", "1");
  std::vector<platform::DirectoryItem> items;
  EXPECT_TRUE(platform::listDirectory(dir / "one.txt", items));
  EXPECT_TRUE(items.empty());

  CreateDirectoryW((dir / "empty").c_str(), nullptr);
  EXPECT_FALSE(platform::listDirectory(dir / "empty", items));
  EXPECT_TRUE(items.empty());

  EXPECT_FALSE(platform::listDirectory(fs::path(dir.path().native() + L"\\"), items));
  ASSERT_EQ(items.size(), 2u);
}

TEST(QueryItemStatus, FilesInUseAndWithAttributesReadAsAnyOther) {
  TempDir dir;
  constexpr std::int64_t kTime = 132682340961234567LL;
  writeFile(dir / "Vardel.exe", "running program");
  writeFile(dir / "readonly.dll", "12345");
  writeFile(dir / "plugins" / "a.dll", "a");
  for (const char* name : {"Vardel.exe", "readonly.dll", "plugins"}) {
    ASSERT_FALSE(platform::setLastWriteFileTime(dir / name, kTime)) << name;
  }
  ASSERT_TRUE(SetFileAttributesW((dir / "readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  // The check runs while the main program holds its own files open.
  HeldOpen running(dir / "Vardel.exe");
  ASSERT_NE(running.handle, INVALID_HANDLE_VALUE);

  const struct {
    const char* name;
    fs::path path;
    ItemKind kind;
    std::uint64_t size;
  } cases[] = {
      {"file held open", dir / "Vardel.exe", ItemKind::Regular, 15},
      {"read-only hidden file", dir / "readonly.dll", ItemKind::Regular, 5},
      {"forward slashes", fs::path(dir.path().native() + L"/readonly.dll"), ItemKind::Regular, 5},
      {"directory", dir / "plugins", ItemKind::Directory, 0},
  };
  for (const auto& c : cases) {
    for (bool follow : {true, false}) {
      platform::ItemStatus status;
      const std::error_code error = platform::queryItemStatus(c.path, follow, status);
      EXPECT_FALSE(error) << c.name << ": " << error.value();
      EXPECT_EQ(status.kind, c.kind) << c.name;
      EXPECT_EQ(status.size, c.size) << c.name;
      EXPECT_EQ(status.lastWriteFileTime, kTime) << c.name;
    }
  }
}

TEST(StoredFileName, AShortAliasNamesTheFileItStandsFor) {
  TempDir dir;
  writeFile(dir / "vcruntime140.dll", "runtime");
  wchar_t alias[MAX_PATH] = {};
  const fs::path longPath = dir / "vcruntime140.dll";
  const DWORD length = GetShortPathNameW(longPath.c_str(), alias, MAX_PATH);
  ASSERT_GT(length, 0u);
  if (fs::path(alias).filename() == longPath.filename()) GTEST_SKIP() << "this volume makes no 8.3 names";
  EXPECT_EQ(platform::storedFileName(alias), "vcruntime140.dll") << fs::path(alias).filename().string();
  EXPECT_EQ(platform::storedFileName(dir / "missing.dll"), "missing.dll");
}

TEST(PermissionBits, WindowsHasNone) {
  TempDir dir;
  writeFile(dir / "Vardel.exe", "x");
  bool executable = true;
  EXPECT_FALSE(platform::isExecutableFile(dir / "Vardel.exe", executable));
  EXPECT_FALSE(executable);
  EXPECT_FALSE(platform::makeExecutable(dir / "Vardel.exe"));
}

}  // namespace
