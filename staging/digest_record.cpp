#include "staging/digest_record.h"

#include <iterator>
#include <unordered_map>

#include "platform/filesystem.h"
#include "staging/paths.h"
#include "update/installed_digests.h"

bool recordInstalledDigests(const std::filesystem::path& installDir, const ManifestEntryList& applied,
                            std::string& errorText) {
  InstalledDigests record;
  record.load(installDir);
  std::unordered_map<std::string, InstalledDigests::Item> items = record.items();
  for (const ManifestEntry entry : applied) items.erase(entry.path);
  // An item of an earlier update goes when its file has changed since.
  for (auto item = items.begin(); item != items.end();) {
    InstalledDigests::Item now;
    const bool holds = InstalledDigests::plainFileStatus(manifestPathToLocal(installDir, item->first), now) &&
                       now.size == item->second.size && now.fileTime == item->second.fileTime;
    item = holds ? std::next(item) : items.erase(item);
  }
  for (const ManifestEntry entry : applied) {
    if (entry.sha256.empty() || !entry.link.empty() || entry.size < 0 || entry.mtime <= 0) continue;
    InstalledDigests::Item item;
    if (!InstalledDigests::plainFileStatus(manifestPathToLocal(installDir, entry.path), item)) continue;
    if (item.size != static_cast<std::uint64_t>(entry.size) ||
        item.fileTime != platform::unixSecondsToFileTime(entry.mtime)) {
      continue;
    }
    item.sha256 = entry.sha256;
    items[entry.path] = item;
  }
  return writeInstalledDigests(installDir, items, errorText);
}
