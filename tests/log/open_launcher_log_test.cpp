#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "log/launcher_log.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "tests/log/log_messages.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::logMessages;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Messages = std::vector<std::string>;

// The log is one per process: every test leaves it closed, whatever happens.
struct LogGuard {
  ~LogGuard() { closeLauncherLog(); }
};

std::string dailyName(std::time_t moment) {
  const std::tm local = platform::localTime(moment);
  char name[32];
  std::strftime(name, sizeof name, "kestrun-%Y%m%d.log", &local);
  return name;
}

// The day's file names that a log opened between `before` and now may carry.
std::vector<std::string> possibleNames(std::time_t before) {
  return {dailyName(before), dailyName(std::time(nullptr))};
}

std::vector<std::string> fileNames(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(platform::pathToUtf8(entry.path().filename()));
  return names;
}

Messages openingLines(const fs::path& installDir) {
  return {"INFO ========== Kestrun 启动 ==========", "INFO 安装目录：" + platform::pathToUtf8(installDir)};
}

TEST(OpenLauncherLog, WritesBannerAndInstallationDirectoryIntoTodaysFile) {
  TempDir install;
  LogGuard guard;  // closes the log before the directory goes
  const std::time_t before = std::time(nullptr);
  openLauncherLog(install.path(), 30);
  logInfo("第一行");
  logWarn("警告");
  logError("");
  closeLauncherLog();

  const std::vector<std::string> names = fileNames(install / "logs");
  ASSERT_EQ(names.size(), 1u);
  const std::vector<std::string> possible = possibleNames(before);
  EXPECT_TRUE(names[0] == possible[0] || names[0] == possible[1]) << names[0];

  Messages expected = openingLines(install.path());
  expected.insert(expected.end(), {"INFO 第一行", "WARN 警告", "ERROR "});
  EXPECT_EQ(logMessages(readFile(install / "logs" / names[0])), expected);
}

TEST(OpenLauncherLog, ALaterRunAppendsToTheSameDay) {
  TempDir install;
  LogGuard guard;  // closes the log before the directory goes
  openLauncherLog(install.path(), 30);
  logInfo("first run");
  openLauncherLog(install.path(), 30);
  logInfo("second run");
  closeLauncherLog();

  const std::vector<std::string> names = fileNames(install / "logs");
  if (names.size() == 2) GTEST_SKIP() << "the day changed between the two runs";
  ASSERT_EQ(names.size(), 1u);
  Messages expected = openingLines(install.path());
  expected.push_back("INFO first run");
  const Messages second = openingLines(install.path());
  expected.insert(expected.end(), second.begin(), second.end());
  expected.push_back("INFO second run");
  EXPECT_EQ(logMessages(readFile(install / "logs" / names[0])), expected);
}

TEST(OpenLauncherLog, PrunesOldDailyFilesBeforeOpening) {
  TempDir install;
  LogGuard guard;  // closes the log before the directory goes
  const fs::path old = install / "logs" / "kestrun-20000101.log";
  writeFile(old, "old\n");
  ASSERT_FALSE(platform::setLastWriteFileTime(old, platform::currentFileTime() - 31 * 24 * 36000000000LL));

  openLauncherLog(install.path(), 0);
  EXPECT_TRUE(fs::exists(old)) << "retention 0 keeps everything";
  openLauncherLog(install.path(), 30);
  EXPECT_FALSE(fs::exists(old));
}

TEST(OpenLauncherLog, WithoutALogDirectoryLinesGoToStandardError) {
  TempDir dir;
  LogGuard guard;  // closes the log before the directory goes
  // A file where the installation directory should be: its logs directory cannot exist.
  const fs::path install = dir / "not-a-directory";
  writeFile(install, "x");

  testing::internal::CaptureStderr();
  openLauncherLog(install, 30);
  logInfo("之后的行");
  const std::string captured = testing::internal::GetCapturedStderr();

  const Messages messages = logMessages(captured);
  ASSERT_EQ(messages.size(), 2u) << captured;
  const std::string fixed = "ERROR 无法创建 Kestrun 日志目录：" + platform::pathToUtf8(install / "logs") + "；原因：";
  EXPECT_EQ(messages[0].substr(0, fixed.size()), fixed);
  EXPECT_GT(messages[0].size(), fixed.size()) << "the reason follows";
  EXPECT_EQ(messages[1], "INFO 之后的行");
  EXPECT_EQ(readFile(install), "x");
}

TEST(OpenLauncherLog, WithoutALogFileLinesGoToStandardError) {
  TempDir install;
  LogGuard guard;  // closes the log before the directory goes
  const std::time_t before = std::time(nullptr);
  // Directories where the day's file should be, so that it cannot be opened.
  for (const std::string& name : possibleNames(before)) fs::create_directories(install / "logs" / name);
  fs::create_directories(install / "logs" / dailyName(before + 86400));

  testing::internal::CaptureStderr();
  openLauncherLog(install.path(), 30);
  logWarn("仍然记录");
  const std::string captured = testing::internal::GetCapturedStderr();

  const Messages messages = logMessages(captured);
  ASSERT_EQ(messages.size(), 2u) << captured;
  const std::vector<std::string> possible = possibleNames(before);
  const std::string fixed = "ERROR 无法打开 Kestrun 日志文件：";
  EXPECT_TRUE(messages[0] == fixed + platform::pathToUtf8(install / "logs" / possible[0]) ||
              messages[0] == fixed + platform::pathToUtf8(install / "logs" / possible[1]))
      << messages[0];
  EXPECT_EQ(messages[1], "WARN 仍然记录");
}

TEST(LogLine, ConcurrentWritersProduceWholeLines) {
  TempDir install;
  LogGuard guard;  // closes the log before the directory goes
  openLauncherLog(install.path(), 30);
  constexpr int kLinesPerThread = 400;
  auto writer = [](const std::string& name) {
    for (int i = 0; i < kLinesPerThread; ++i) logInfo(name + " line " + std::to_string(i) + " " + std::string(200, 'x'));
  };
  std::thread first(writer, "first");
  std::thread second(writer, "second");
  first.join();
  second.join();
  closeLauncherLog();

  const std::vector<std::string> names = fileNames(install / "logs");
  std::string content;
  for (const std::string& name : names) content += readFile(install / "logs" / name);
  const Messages messages = logMessages(content);
  int next[2] = {0, 0};
  for (const std::string& message : messages) {
    if (message.rfind("INFO first line ", 0) == 0 || message.rfind("INFO second line ", 0) == 0) {
      const int writerIndex = message.rfind("INFO first", 0) == 0 ? 0 : 1;
      const std::string expected = std::string("INFO ") + (writerIndex == 0 ? "first" : "second") + " line " +
                                   std::to_string(next[writerIndex]) + " " + std::string(200, 'x');
      EXPECT_EQ(message, expected);
      ++next[writerIndex];
    } else {
      EXPECT_EQ(message.rfind("INFO ", 0), 0u) << message;
    }
  }
  EXPECT_EQ(next[0], kLinesPerThread);
  EXPECT_EQ(next[1], kLinesPerThread);
}

}  // namespace
