// The launcher log in a Windows installation directory whose path is not plain ASCII.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

#include "log/launcher_log.h"
#include "platform/environment.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/child_program.h"

namespace {

TEST(LauncherLogOnWindows, BannerLinesInTheDailyFile) {
  testing_support::TempDir dir;
  const std::filesystem::path installDir = dir.path() / L"Fennick 安装";
  ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
  const std::time_t before = std::time(nullptr);
  openLauncherLog(installDir, 30);
  logWarn("第三行");
  closeLauncherLog();
  const std::time_t after = std::time(nullptr);

  std::filesystem::path logFile;
  for (std::time_t moment : {before, after}) {
    char day[16];
    const std::tm local = platform::localTime(moment);
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    const std::filesystem::path candidate = installDir / "logs" / ("kestrun-" + std::string(day) + ".log");
    if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) logFile = candidate;
  }
  ASSERT_FALSE(logFile.empty()) << "no daily file named after today";

  // Lines end in a bare line feed: the file is written in binary mode.
  const std::string content = testing_support::readFile(logFile);
  EXPECT_EQ(content.find('\r'), std::string::npos);
  const std::regex firstLine("\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] \\[INFO\\] "
                             "\\[pid=[0-9]+\\] ========== Kestrun 启动 ==========\n");
  EXPECT_TRUE(std::regex_match(content.substr(0, content.find('\n') + 1), firstLine)) << content;

  const auto entries = windows_tests::readLauncherLog(installDir);
  ASSERT_EQ(entries.size(), 3u);
  const struct {
    const char* level;
    std::string message;
  } expected[] = {
      {"INFO", "========== Kestrun 启动 =========="},
      {"INFO", "安装目录：" + platform::pathToUtf8(installDir)},
      {"WARN", "第三行"},
  };
  for (std::size_t index = 0; index < entries.size(); ++index) {
    EXPECT_EQ(entries[index].level, expected[index].level);
    EXPECT_EQ(entries[index].message, expected[index].message);
    EXPECT_EQ(entries[index].processId, static_cast<std::uint32_t>(GetCurrentProcessId()));
  }
  EXPECT_NE(platform::pathToUtf8(installDir).find("\\Fennick 安装"), std::string::npos)
      << "the directory line carries the Windows path as UTF-8";
}

}  // namespace
