#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "platform/filesystem.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr std::int64_t kDay = 24 * 36000000000LL;
// 2025-03-01 00:00:00 UTC as a FILETIME: a fixed "now" for every case.
const std::int64_t kNow = platform::unixSecondsToFileTime(1740787200);

struct Item {
  const char* name;
  bool directory;
  std::int64_t age;  // FILETIME units before kNow
  bool deletedWithThirtyDays;
};

const std::vector<Item>& items() {
  static const std::vector<Item> table = {
      {"kestrun-20250129.log", false, 30 * kDay, false},   // exactly at the cutoff
      {"kestrun-20250128.log", false, 30 * kDay + 1, true}, // one unit older
      {"kestrun-20240101.log", false, 400 * kDay, true},
      {"kestrun-20250301.log", false, 0, false},
      {"kestrun-.log", false, 31 * kDay, true},
      {"kestrun-.log.log", false, 31 * kDay, true},
      // Distinct dates: on a file system that ignores case these must not be one file.
      {"KESTRUN-20240201.log", false, 400 * kDay, false},
      {"Kestrun-20240301.log", false, 400 * kDay, false},
      {"kestrun-20240401.LOG", false, 400 * kDay, false},
      {"kestrun-20240101.txt", false, 400 * kDay, false},
      {"kestrun-20240101.log.bak", false, 400 * kDay, false},
      {"kestrun.log", false, 400 * kDay, false},
      {"kestrun-", false, 400 * kDay, false},
      {"other.log", false, 400 * kDay, false},
      {"update.log", false, 400 * kDay, false},
      {"kestrun-20240102.log", true, 400 * kDay, false},  // a directory with a daily name
  };
  return table;
}

void createItems(const fs::path& directory) {
  for (const Item& item : items()) {
    const fs::path path = directory / item.name;
    if (item.directory) {
      fs::create_directories(path);
      writeFile(path / "inside.log", "x");
      ASSERT_FALSE(platform::setLastWriteFileTime(path / "inside.log", kNow - item.age));
    } else {
      writeFile(path, "x");
    }
    ASSERT_FALSE(platform::setLastWriteFileTime(path, kNow - item.age)) << item.name;
  }
}

TEST(PruneOldLogs, DeletesOnlyOldDailyFiles) {
  TempDir dir;
  createItems(dir.path());
  pruneOldLogsAt(dir.path(), 30, kNow);
  for (const Item& item : items()) {
    EXPECT_EQ(fs::exists(dir / item.name), !item.deletedWithThirtyDays) << item.name;
  }
  EXPECT_TRUE(fs::exists(dir / "kestrun-20240102.log" / "inside.log")) << "never recursive";
}

TEST(PruneOldLogs, ZeroOrNegativeRetentionDeletesNothing) {
  for (int retention : {0, -1, -30}) {
    TempDir dir;
    createItems(dir.path());
    pruneOldLogsAt(dir.path(), retention, kNow);
    for (const Item& item : items()) EXPECT_TRUE(fs::exists(dir / item.name)) << item.name << " " << retention;
  }
}

TEST(PruneOldLogs, RetentionMovesTheCutoffByWholeDays) {
  TempDir dir;
  createItems(dir.path());
  pruneOldLogsAt(dir.path(), 1, kNow);
  EXPECT_TRUE(fs::exists(dir / "kestrun-20250301.log"));
  EXPECT_FALSE(fs::exists(dir / "kestrun-20250129.log"));
  EXPECT_TRUE(fs::exists(dir / "KESTRUN-20240201.log"));
}

TEST(PruneOldLogs, MissingDirectoryIsIgnored) {
  TempDir dir;
  pruneOldLogsAt(dir / "missing", 30, kNow);
  pruneOldLogs(dir / "missing", 30);
}

}  // namespace
