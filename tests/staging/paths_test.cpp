#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "staging/paths.h"
#include "staging/url_escape.h"
#include "tests/support/test_system.h"

namespace fs = std::filesystem;

namespace {

struct RelativeCase {
  const char* path;
  const char* base;
  const char* expected;
};

TEST(RelativeToBase, FollowsThePosixRules) {
  if (testing_support::kWindowsBuild) GTEST_SKIP() << "POSIX paths; FollowsTheWindowsRules checks this build's";
  const std::vector<RelativeCase> cases = {
      {"/app/update_staging/bin/x.dll", "/app/update_staging", "bin/x.dll"},
      {"/app/update_staging", "/app/update_staging", "."},
      {"/app/update_staging/", "/app/update_staging", "."},
      {"/app/update_staging/x.dll", "/app/update_staging/.", "x.dll"},
      {"/app/update_staging", "/app/update_staging/plugins/..", "."},
      {"/other/x.dll", "/app/update_staging", "../../other/x.dll"},
      {"app/x.dll", "/app", ""},
      {"/app/x.dll", "app", ""},
      {"a/b/c", "a", "b/c"},
      // On this system a backslash is part of a name, so the extended-length prefix is too.
      {"\\\\?\\C:\\app\\x.dll", "\\\\?\\C:\\app", "../\\\\?\\C:\\app\\x.dll"},
  };
  for (const RelativeCase& c : cases) {
    EXPECT_EQ(relativeToBase(c.path, c.base), fs::path(c.expected)) << c.path << " against " << c.base;
  }
}

#ifdef _WIN32
TEST(RelativeToBase, FollowsTheWindowsRules) {
  const std::vector<RelativeCase> cases = {
      {"C:\\app\\update_staging\\bin\\x.dll", "C:\\app\\update_staging", "bin\\x.dll"},
      {"C:\\app\\update_staging", "C:\\app\\update_staging", "."},
      {"D:\\app\\update_staging\\x.dll", "C:\\app\\update_staging", ""},
      {"C:/app/update_staging/bin/x.dll", "C:\\app\\update_staging", "bin\\x.dll"},
      {"\\\\?\\C:\\app\\update_staging\\x.dll", "\\\\?\\C:\\app\\update_staging", "x.dll"},
      {"\\\\?\\C:\\app\\update_staging\\x.dll", "C:\\app\\update_staging", ""},
      {"C:\\app\\update_staging\\x.dll", "\\\\?\\C:\\app\\update_staging", ""},
  };
  for (const RelativeCase& c : cases) {
    EXPECT_EQ(relativeToBase(c.path, c.base).native(), fs::path(c.expected).native())
        << c.path << " against " << c.base;
  }
}
#endif

TEST(ManifestPathToLocal, JoinsTheTextUnchangedWithItsSlashesAsSeparators) {
  const fs::path base = fs::path("staging-root");
  const fs::path joined = manifestPathToLocal(base, "bin/tool.exe");
  EXPECT_EQ(joined.parent_path(), base / "bin");
  EXPECT_EQ(joined.filename(), fs::path("tool.exe"));

  const fs::path unicode = manifestPathToLocal(base, "数据/é.txt");
  EXPECT_EQ(unicode.filename().u8string(), std::string("é.txt"));
  EXPECT_EQ(unicode.parent_path().filename().u8string(), std::string("数据"));
}

TEST(FormatFsError, FramesTheCategoryMessage) {
  EXPECT_EQ(formatFsError(std::error_code()), "未知文件系统错误");
  EXPECT_EQ(formatFsError(std::error_code(0, std::generic_category())), "未知文件系统错误");

  const std::error_code notFound(ENOENT, std::system_category());
  EXPECT_EQ(formatFsError(notFound), "code=2，category=system，message=" + notFound.message());

  const std::error_code noMemory(ENOMEM, std::generic_category());
  EXPECT_EQ(formatFsError(noMemory), "code=12，category=generic，message=" + noMemory.message());
}

TEST(ManifestPathEncoding, EncodesEverySegmentAndKeepsEverySlash) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bin/My File+1.dll", "bin/My%20File%2B1.dll"},
      {"数据/Ünï cödé.txt", "%E6%95%B0%E6%8D%AE/%C3%9Cn%C3%AF%20c%C3%B6d%C3%A9.txt"},
      {"A-Z_a.z~0-9", "A-Z_a.z~0-9"},
      {"a&b=c?d#e%f", "a%26b%3Dc%3Fd%23e%25f"},
      {"", ""},
      {"/", "/"},
      {"/lead//double/trail/", "/lead//double/trail/"},
  };
  for (const auto& c : cases) EXPECT_EQ(encodeManifestPath(c.first), c.second) << c.first;
}

}  // namespace
