// What the launcher learns about its own process and system.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/environment.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/child_program.h"

namespace {

TEST(DescribePlatform, NamesWindowsItsVersionOrTheFallbackAndX64) {
  const std::string text = platform::describePlatform();
  const std::regex numbered("Windows [0-9]+\\.[0-9]+ build [0-9]+ x64");
  const bool fallback = text == "Windows（无法读取版本号） x64";
  EXPECT_TRUE(std::regex_match(text, numbered) || fallback) << text;
  // Every Windows (and Wine) this runs on has RtlGetVersion.
  EXPECT_FALSE(fallback);
}

TEST(OwnExecutablePath, IsTheRunningTestProgram) {
  std::filesystem::path self;
  ASSERT_TRUE(platform::ownExecutablePath(self));
  EXPECT_TRUE(self.is_absolute()) << self;
  EXPECT_EQ(self.filename(), "kestrun_windows_tests.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(self));
}

// The child program copied to a path of exactly `units` UTF-16 units below `dir`.
std::filesystem::path copyChildToPathOfLength(const std::filesystem::path& dir, std::size_t units) {
  const std::wstring name = L"kestrun_windows_child.exe";
  const std::size_t fixed = dir.native().size() + 1 + 1 + name.size();
  if (units <= fixed || units - fixed > 240) return {};
  const std::wstring folder = dir.native() + L"\\" + std::wstring(units - fixed, L'd');
  // The extended-length form creates folders and files whose paths are too long otherwise.
  if (!CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) return {};
  const std::wstring program = folder + L"\\" + name;
  if (!CopyFileW(windows_tests::childProgramPath().c_str(), (L"\\\\?\\" + program).c_str(), FALSE)) return {};
  return program;
}

TEST(OwnExecutablePath, PathOf260UnitsOrMoreCountsAsUnreadable) {
  testing_support::TempDir dir;
  const struct {
    std::size_t units;
    bool readable;
  } cases[] = {{259, true}, {260, false}, {300, false}};
  for (const auto& c : cases) {
    const std::filesystem::path program = copyChildToPathOfLength(dir.path(), c.units);
    ASSERT_FALSE(program.empty()) << c.units;
    ASSERT_EQ(program.native().size(), c.units);
    // Paths this long are beyond the temporary directory's own clean-up.
    struct LongPathCleanup {
      ~LongPathCleanup() {
        DeleteFileW((L"\\\\?\\" + program.native()).c_str());
        RemoveDirectoryW((L"\\\\?\\" + program.parent_path().native()).c_str());
      }
      const std::filesystem::path& program;
    } cleanup{program};
    std::uint32_t errorCode = 0;
    // A path too long for the ordinary form is started in the extended-length form.
    const std::filesystem::path started =
        c.units < MAX_PATH ? program : std::filesystem::path(L"\\\\?\\" + program.native());
    platform::ProcessHandle child = platform::startProcess(started, {L"own-path"}, dir.path(), errorCode);
    if (!child && c.units >= MAX_PATH) {
      GTEST_SKIP() << "this system cannot start a program from a path of " << c.units << " units (error "
                   << errorCode << "; Wine 8 cannot)";
    }
    ASSERT_TRUE(child) << c.units << ": error " << errorCode;
    ASSERT_EQ(platform::waitForExit(*child, 60000, errorCode), platform::WaitResult::Exited);
    std::uint32_t exitCode = 0xFFFFFFFFu;
    ASSERT_TRUE(platform::readExitCode(*child, exitCode, errorCode));
    if (c.readable) {
      ASSERT_EQ(exitCode, 0u) << c.units;
      EXPECT_EQ(windows_tests::readNulSeparated(dir / "own-path.txt"),
                std::vector<std::string>{platform::pathToUtf8(program)});
    } else {
      EXPECT_EQ(exitCode, 1u) << c.units << ": a path of 260 units or more is not taken";
    }
  }
}

}  // namespace
