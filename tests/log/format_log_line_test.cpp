#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "log/launcher_log.h"

namespace {

// Milliseconds since 1970 of a local calendar moment, so that the expected text does not
// depend on the time zone the tests run in.
std::int64_t localMoment(int year, int month, int day, int hour, int minute, int second, int millis) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&local)) * 1000 + millis;
}

TEST(FormatLogLine, ExactFrame) {
  const struct {
    const char* name;
    std::int64_t moment;
    const char* level;
    std::uint32_t pid;
    std::string message;
    std::string expected;
  } cases[] = {
      {"warning at 08:05:09.007", localMoment(2025, 3, 1, 8, 5, 9, 7), "WARN", 4120, "msg",
       "[2025-03-01 08:05:09.007] [WARN] [pid=4120] msg\n"},
      {"info with Chinese text", localMoment(2024, 12, 31, 23, 59, 59, 999), "INFO", 1,
       "安装目录：C:\\Fennick", "[2024-12-31 23:59:59.999] [INFO] [pid=1] 安装目录：C:\\Fennick\n"},
      {"error at a whole second", localMoment(2025, 1, 2, 0, 0, 0, 0), "ERROR", 4294967295u, "x",
       "[2025-01-02 00:00:00.000] [ERROR] [pid=4294967295] x\n"},
      {"empty message", localMoment(2025, 6, 10, 12, 0, 1, 50), "INFO", 7, "",
       "[2025-06-10 12:00:01.050] [INFO] [pid=7] \n"},
      {"embedded line break stays", localMoment(2025, 6, 10, 12, 0, 1, 50), "WARN", 7, "one\ntwo",
       "[2025-06-10 12:00:01.050] [WARN] [pid=7] one\ntwo\n"},
      {"past midnight", localMoment(2025, 2, 28, 23, 59, 59, 950) + 100, "INFO", 7, "next day",
       "[2025-03-01 00:00:00.050] [INFO] [pid=7] next day\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatLogLine(c.moment, c.level, c.pid, c.message), c.expected) << c.name;
  }
}

}  // namespace
