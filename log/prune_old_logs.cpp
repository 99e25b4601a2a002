#include <cstdint>
#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace {

constexpr std::int64_t kFileTimeUnitsPerHour = 36000000000LL;

bool isDailyLogName(const std::filesystem::path& file) {
  static const std::string prefix = kDailyLogPrefix;
  static const std::string extension = kDailyLogExtension;
  const std::string name = platform::pathToUtf8(file.filename());
  if (name.size() < prefix.size() + extension.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  return platform::pathToUtf8(file.filename().extension()) == extension;
}

}  // namespace

void pruneOldLogs(const std::filesystem::path& logDirectory, int retentionDays) {
  pruneOldLogsAt(logDirectory, retentionDays, platform::currentFileTime());
}

void pruneOldLogsAt(const std::filesystem::path& logDirectory, int retentionDays, std::int64_t nowFileTime) {
  if (retentionDays <= 0) return;
  const std::int64_t cutoff = nowFileTime - static_cast<std::int64_t>(retentionDays) * 24 * kFileTimeUnitsPerHour;

  std::vector<platform::DirectoryItem> items;
  // A listing that fails part-way still prunes what was listed before the failure.
  platform::listDirectory(logDirectory, items);
  for (const platform::DirectoryItem& item : items) {
    platform::ItemKind kind;
    if (platform::queryItemKind(item.path, true, kind) || kind != platform::ItemKind::Regular) continue;
    if (!isDailyLogName(item.path)) continue;
    std::int64_t written = 0;
    if (platform::lastWriteFileTime(item.path, written)) continue;
    if (written < cutoff) platform::removeItem(item.path);
  }
}
