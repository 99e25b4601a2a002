#include "update/installed_digests.h"

#include "names/ascii_case.h"
#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "trust/sha256_hex.h"
#include "update/record_file.h"

namespace {

bool parseUnsigned(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoull(text);
  return true;
}

}  // namespace

bool InstalledDigests::plainFileStatus(const std::filesystem::path& local, Item& item) {
  platform::ItemStatus status;
  if (platform::queryItemStatus(local, false, status) || status.kind != platform::ItemKind::Regular) return false;
  item.size = status.size;
  item.fileTime = status.lastWriteFileTime;
  return true;
}

// Lines of "sha256 TAB size TAB time TAB path"; anything else is skipped.
void InstalledDigests::load(const std::filesystem::path& installDir) {
  items_.clear();
  for (const std::vector<std::string>& fields : readRecordLines(installDir / kDigestRecordFileName)) {
    Item item;
    std::uint64_t time = 0;
    if (fields.size() != 4 || !isSha256Hex(fields[0]) || !parseUnsigned(fields[1], item.size) ||
        !parseUnsigned(fields[2], time) || fields[3].empty()) {
      continue;
    }
    item.fileTime = static_cast<std::int64_t>(time);
    item.sha256 = names::lowerAscii(fields[0]);
    items_[fields[3]] = item;
  }
}

std::string InstalledDigests::digestOf(const std::string& manifestPath, const std::filesystem::path& installed) const {
  const auto found = items_.find(manifestPath);
  Item now;
  if (found == items_.end() || !plainFileStatus(installed, now)) return {};
  if (now.size != found->second.size || now.fileTime != found->second.fileTime) return {};
  return found->second.sha256;
}

bool writeInstalledDigests(const std::filesystem::path& installDir,
                           const std::unordered_map<std::string, InstalledDigests::Item>& items, std::string& errorText) {
  std::vector<std::vector<std::string>> lines;
  for (const auto& [path, item] : items) {
    if (item.fileTime < 0 || !isRecordField(path)) continue;
    lines.push_back({item.sha256, std::to_string(item.size), std::to_string(item.fileTime), path});
  }
  return writeRecordLines(installDir / kDigestRecordFileName, lines, errorText);
}
