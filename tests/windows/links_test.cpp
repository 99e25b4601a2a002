// Symbolic links and junctions. Creating either needs rights or a file system that not
// every Windows account (or Wine version) has; those tests skip with the reason.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/win32/link_target.h"
#include "platform/win32/reparse_data.h"
#include "tests/support/item_kind.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::ItemKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::kindOf;
using testing_support::writeFile;

std::error_code systemError(DWORD code) { return std::error_code(static_cast<int>(code), std::system_category()); }


TEST(LinkTargetText, SeparatorsAsWindowsStoresThem) {
  const struct {
    const wchar_t* target;
    const wchar_t* stored;
  } cases[] = {
      {L"../lib//libz.so.1", L"..\\lib\\libz.so.1"},
      {L"libz.so.1.2.13", L"libz.so.1.2.13"},
      {L"a\\\\/b/", L"a\\b\\"},
      {L"///top", L"\\top"},
      {L"C:/Program Files//Fennick/", L"C:\\Program Files\\Fennick\\"},
      {L"C:lib//x", L"C:lib\\x"},
      {L"//server//share//x", L"\\\\server\\share\\x"},
      {L"//?/C://app", L"\\\\?\\C:\\app"},
      {L"\\\\.\\pipe//x", L"\\\\.\\pipe\\x"},
      {L"/?\?/C:/x", L"\\?\?\\C:\\x"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::win32::windowsLinkTarget(c.target), c.stored) << platform::toUtf8(c.target);
  }
}

TEST(SymbolicLinks, StoredTargetReadsBackWithBackslashes) {
  TempDir dir;
  writeFile(dir / "lib" / "libz.so.1", "zlib");
  CreateDirectoryW((dir / "bin").c_str(), nullptr);
  const fs::path link = dir / "bin" / "libz.so";
  const std::error_code created = platform::createFileSymlink(L"../lib//libz.so.1", link);
  if (created == systemError(ERROR_NOT_SUPPORTED) || created == systemError(ERROR_PRIVILEGE_NOT_HELD)) {
    EXPECT_EQ(GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES) << "a failed link leaves nothing";
    GTEST_SKIP() << "this system does not create symbolic links here (error " << created.value()
                 << "; Wine 8 accepts CreateSymbolicLinkW and creates nothing)";
  }
  ASSERT_FALSE(created) << created.value();

  platform::NativeString target;
  ASSERT_FALSE(platform::readSymlinkTarget(link, target));
  EXPECT_EQ(target, L"..\\lib\\libz.so.1");
  EXPECT_EQ(kindOf(link, false), ItemKind::Symlink);
  EXPECT_EQ(kindOf(link, true), ItemKind::Regular);
  bool redirects = false;
  EXPECT_FALSE(platform::isRedirection(link, redirects));
  EXPECT_TRUE(redirects);
  std::vector<platform::DirectoryItem> items;
  ASSERT_FALSE(platform::listDirectory(dir / "bin", items));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Symlink);

  // A dangling link is a link, and missing when followed.
  ASSERT_FALSE(platform::createFileSymlink(L"nowhere.dll", dir / "bin" / "dangling.dll"));
  EXPECT_EQ(kindOf(dir / "bin" / "dangling.dll", false), ItemKind::Symlink);
  EXPECT_EQ(kindOf(dir / "bin" / "dangling.dll", true), ItemKind::Missing);

  // Removal takes the links, never what they point at.
  EXPECT_FALSE(platform::removeTree(dir / "bin"));
  EXPECT_EQ(kindOf(dir / "bin", false), ItemKind::Missing);
  EXPECT_EQ(readFile(dir / "lib" / "libz.so.1"), "zlib");
}

TEST(SymbolicLinks, ItemsThatAreNoLinkReportTheSystemsError) {
  TempDir dir;
  writeFile(dir / "plain.dll", "x");
  platform::NativeString target = L"left over";
  EXPECT_EQ(platform::readSymlinkTarget(dir / "plain.dll", target), systemError(ERROR_NOT_A_REPARSE_POINT));
  EXPECT_TRUE(target.empty());
  EXPECT_TRUE(platform::isNotFoundError(platform::readSymlinkTarget(dir / "missing.dll", target)));
}

TEST(Redirection, PlainItemsAndMissingPathsLeadNowhereElse) {
  TempDir dir;
  writeFile(dir / "plain.dll", "x");
  CreateDirectoryW((dir / "plugins").c_str(), nullptr);
  for (const fs::path& path : {dir / "plain.dll", dir / "plugins", dir / "missing", dir / "missing" / "deeper",
                               dir / "plain.dll" / "below"}) {
    bool redirects = true;
    EXPECT_FALSE(platform::isRedirection(path, redirects)) << path;
    EXPECT_FALSE(redirects) << path;
  }
}

// Puts reparse data with `tag` and no names on the existing item `path`.
std::error_code setPlainReparsePoint(const fs::path& path, DWORD tag) {
  platform::win32::ReparseDataBuffer data{};
  data.ReparseTag = tag;
  data.ReparseDataLength = 0;
  HANDLE item = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (item == INVALID_HANDLE_VALUE) return systemError(GetLastError());
  DWORD returned = 0;
  const BOOL set = DeviceIoControl(item, FSCTL_SET_REPARSE_POINT, &data,
                                   static_cast<DWORD>(platform::win32::kReparseHeaderSize), nullptr, 0, &returned,
                                   nullptr);
  const DWORD error = set ? ERROR_SUCCESS : GetLastError();
  CloseHandle(item);
  return set ? std::error_code() : systemError(error);
}

TEST(SymbolicLinks, OtherReparsePointsAreNoLinks) {
  TempDir dir;
  writeFile(dir / "app.exe", "");
  // The tag of the app execution aliases: a reparse point that is neither link nor junction.
  const std::error_code made = setPlainReparsePoint(dir / "app.exe", 0x8000001Bu);
  if (made) {
    GTEST_SKIP() << "this system cannot set a reparse point here: FSCTL_SET_REPARSE_POINT failed with error "
                 << made.value() << " (Wine 8 does not support it)";
  }
  platform::NativeString target = L"left over";
  EXPECT_EQ(platform::readSymlinkTarget(dir / "app.exe", target), systemError(ERROR_REPARSE_TAG_INVALID));
  EXPECT_TRUE(target.empty());
  bool redirects = true;
  EXPECT_FALSE(platform::isRedirection(dir / "app.exe", redirects));
  EXPECT_FALSE(redirects);
  EXPECT_FALSE(platform::removeItem(dir / "app.exe"));
  EXPECT_EQ(GetFileAttributesW((dir / "app.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Turns the empty directory `junction` into a junction to `target`.
std::error_code makeJunction(const fs::path& junction, const fs::path& target) {
  const std::wstring substitute = L"\\??\\" + target.native();
  const std::wstring print = target.native();
  std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  auto* data = reinterpret_cast<platform::win32::ReparseDataBuffer*>(buffer.data());
  auto& names = data->MountPointReparseBuffer;
  const std::size_t substituteBytes = substitute.size() * sizeof(wchar_t);
  const std::size_t printBytes = print.size() * sizeof(wchar_t);
  data->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  names.SubstituteNameOffset = 0;
  names.SubstituteNameLength = static_cast<USHORT>(substituteBytes);
  names.PrintNameOffset = static_cast<USHORT>(substituteBytes + sizeof(wchar_t));
  names.PrintNameLength = static_cast<USHORT>(printBytes);
  std::memcpy(names.PathBuffer, substitute.c_str(), substituteBytes + sizeof(wchar_t));
  std::memcpy(names.PathBuffer + substitute.size() + 1, print.c_str(), printBytes + sizeof(wchar_t));
  const std::size_t pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
  data->ReparseDataLength = static_cast<USHORT>(4 * sizeof(USHORT) + pathBytes);
  const DWORD total = static_cast<DWORD>(platform::win32::kReparseHeaderSize + data->ReparseDataLength);

  if (!CreateDirectoryW(junction.c_str(), nullptr)) return systemError(GetLastError());
  HANDLE directory = CreateFileW(junction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return systemError(GetLastError());
  DWORD returned = 0;
  const BOOL set = DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, buffer.data(), total, nullptr, 0, &returned,
                                   nullptr);
  const DWORD error = set ? ERROR_SUCCESS : GetLastError();
  CloseHandle(directory);
  return set ? std::error_code() : systemError(error);
}

TEST(Junctions, ReadAsDirectoriesAndRemovedWithoutTheirTarget) {
  TempDir dir;
  writeFile(dir / "real" / "kept.txt", "kept");
  ASSERT_TRUE(CreateDirectoryW((dir / "tree").c_str(), nullptr));
  const std::error_code made = makeJunction(dir / "tree" / "junction", dir / "real");
  if (made) {
    GTEST_SKIP() << "this system cannot create a junction here: FSCTL_SET_REPARSE_POINT failed with error "
                 << made.value() << " (Wine 8 does not support it)";
  }
  EXPECT_EQ(kindOf(dir / "tree" / "junction", false), ItemKind::Directory);
  EXPECT_EQ(kindOf(dir / "tree" / "junction", true), ItemKind::Directory);
  bool redirects = false;
  EXPECT_FALSE(platform::isRedirection(dir / "tree" / "junction", redirects));
  EXPECT_TRUE(redirects) << "a junction leads elsewhere as a link does";
  platform::NativeString target;
  ASSERT_FALSE(platform::readSymlinkTarget(dir / "tree" / "junction", target));
  EXPECT_EQ(target, (dir / "real").native());

  EXPECT_FALSE(platform::removeTree(dir / "tree"));
  EXPECT_EQ(kindOf(dir / "tree", false), ItemKind::Missing);
  EXPECT_EQ(readFile(dir / "real" / "kept.txt"), "kept");
}

}  // namespace
