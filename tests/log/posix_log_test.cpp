// Log details that only the Linux backend fixes: time zones from TZ and errno texts.
#include <gtest/gtest.h>

#include <string>

#include "log/launcher_log.h"
#include "platform/text.h"
#include "tests/log/log_messages.h"
#include "tests/platform/scoped_environment.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ScopedEnvironment;

TEST(PosixLogLine, TimeStampIsLocalTimeOfTheZone) {
  // 2025-03-01 00:05:09.007 UTC.
  const std::int64_t moment = 1740787509007LL;
  const struct {
    const char* zone;
    const char* expected;
  } cases[] = {
      {"UTC0", "[2025-03-01 00:05:09.007] [WARN] [pid=4120] msg\n"},
      {"CST-8", "[2025-03-01 08:05:09.007] [WARN] [pid=4120] msg\n"},
      {"EST5", "[2025-02-28 19:05:09.007] [WARN] [pid=4120] msg\n"},
  };
  for (const auto& c : cases) {
    ScopedEnvironment zone("TZ", std::string(c.zone));
    EXPECT_EQ(formatLogLine(moment, "WARN", 4120, "msg"), c.expected) << c.zone;
  }
  ScopedEnvironment zone("TZ", std::string("UTC0"));
  EXPECT_EQ(formatLogLine(-1, "INFO", 1, "before 1970"), "[1969-12-31 23:59:59.999] [INFO] [pid=1] before 1970\n");
}

TEST(PosixOpenLauncherLog, DirectoryCreationErrorNamesTheSystemReason) {
  testing_support::TempDir dir;
  const auto install = dir / "file";
  testing_support::writeFile(install, "x");
  testing::internal::CaptureStderr();
  openLauncherLog(install, 30);
  const std::string captured = testing::internal::GetCapturedStderr();
  closeLauncherLog();
  const std::vector<std::string> expected = {"ERROR 无法创建 Kestrun 日志目录：" + platform::pathToUtf8(install / "logs") +
                                             "；原因：Not a directory"};
  EXPECT_EQ(testing_support::logMessages(captured), expected);
}

}  // namespace
