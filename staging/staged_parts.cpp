#include "staging/staged_parts.h"

#include <set>
#include <unordered_map>

#include "names/ascii_case.h"
#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/paths.h"
#include "update/record_file.h"

namespace fs = std::filesystem;

namespace {

// The native text of a path with its doubled separators gone, for comparing a manifest path
// joined to the staging directory with the paths a listing gives.
fs::path::string_type key(const fs::path& path) { return path.lexically_normal().native(); }

// The staged part of `entry`, as long as it is one: a plain file, not reached through a link,
// holding some bytes but fewer than the whole file.
bool isStagedPart(const StagedDownload& download, const ManifestEntry& entry) {
  fs::path linkedParent;
  if (findLinkedParent(download.stagingDir, platform::pathFromUtf8(entry.path), linkedParent) || !linkedParent.empty()) {
    return false;
  }
  platform::ItemStatus status;
  if (platform::queryItemStatus(manifestPathToLocal(download.stagingDir, entry.path), false, status)) return false;
  return status.kind == platform::ItemKind::Regular && status.size > 0 && entry.size > 0 &&
         status.size < static_cast<std::uint64_t>(entry.size);
}

// Removes everything below `dir` but the files in `kept` and the directories that lead to them.
std::error_code pruneExcept(const fs::path& dir, const std::set<fs::path::string_type>& kept,
                            const std::set<fs::path::string_type>& keptDirs) {
  std::vector<platform::DirectoryItem> items;
  std::error_code firstError = platform::listDirectory(dir, items);
  for (const platform::DirectoryItem& item : items) {
    const fs::path::string_type itemKey = key(item.path);
    if (kept.count(itemKey) != 0) continue;
    bool redirects = false;
    std::error_code error = platform::isRedirection(item.path, redirects);
    if (!error && keptDirs.count(itemKey) != 0 && item.kind == platform::ItemKind::Directory && !redirects) {
      error = pruneExcept(item.path, kept, keptDirs);
    } else if (!error) {
      error = platform::removeTree(item.path);
    }
    if (error && !firstError) firstError = error;
  }
  return firstError;
}

}  // namespace

std::error_code clearStagingKeepingParts(const StagedDownload& download, std::vector<std::string>& validators) {
  validators.assign(download.pending.size(), std::string());
  const fs::path record = download.installDir / kResumeRecordFileName;
  const std::vector<std::vector<std::string>> lines = readRecordLines(record);
  platform::removeItem(record);

  // Lines of "sha256 TAB size TAB validator TAB path", of the entries that want the same file.
  std::unordered_map<std::string, std::size_t> wanted;
  for (std::size_t i = 0; i < download.pending.size(); ++i) {
    const ManifestEntry& entry = download.pending[i];
    if (entry.link.empty() && !entry.sha256.empty()) wanted[entry.path] = i;
  }
  std::set<fs::path::string_type> kept;
  std::set<fs::path::string_type> keptDirs;
  std::vector<std::vector<std::string>> keptLines;
  for (const std::vector<std::string>& fields : lines) {
    if (fields.size() != 4 || fields[2].empty()) continue;
    const auto found = wanted.find(fields[3]);
    if (found == wanted.end()) continue;
    const ManifestEntry& entry = download.pending[found->second];
    if (names::lowerAscii(fields[0]) != names::lowerAscii(entry.sha256) ||
        fields[1] != std::to_string(entry.size) || !isStagedPart(download, entry)) {
      continue;
    }
    validators[found->second] = fields[2];
    keptLines.push_back(fields);
    const fs::path staged = manifestPathToLocal(download.stagingDir, entry.path).lexically_normal();
    kept.insert(staged.native());
    for (fs::path dir = staged.parent_path(); key(dir) != key(download.stagingDir) && dir.has_relative_path();
         dir = dir.parent_path()) {
      keptDirs.insert(key(dir));
    }
  }

  bool redirects = false;
  platform::ItemKind kind = platform::ItemKind::Missing;
  std::error_code error = platform::isRedirection(download.stagingDir, redirects);
  if (!error) error = platform::queryItemKind(download.stagingDir, false, kind);
  if (error || redirects || kind != platform::ItemKind::Directory || kept.empty()) {
    validators.assign(download.pending.size(), std::string());
    return platform::removeTree(download.stagingDir);
  }
  // Named again at once: a run killed before its downloads record anything keeps them too.
  std::string ignored;
  writeRecordLines(record, keptLines, ignored);
  return pruneExcept(download.stagingDir, kept, keptDirs);
}

namespace {

// Whether a part of `entry` can be gone on from in a next run: a whole file with a sha256,
// and fields that a record line can hold.
bool mayBeRecorded(const ManifestEntry& entry, const std::string& validator) {
  return !entry.sha256.empty() && entry.link.empty() && !validator.empty() && isRecordField(validator) &&
         isRecordField(entry.path);
}

std::vector<std::string> recordLine(const ManifestEntry& entry, const std::string& validator) {
  return {entry.sha256, std::to_string(entry.size), validator, entry.path};
}

}  // namespace

void recordStagedParts(const StagedDownload& download, const std::vector<std::string>& validators) {
  std::vector<std::vector<std::string>> lines;
  for (std::size_t i = 0; i < download.pending.size() && i < validators.size(); ++i) {
    const ManifestEntry& entry = download.pending[i];
    if (mayBeRecorded(entry, validators[i]) && isStagedPart(download, entry)) lines.push_back(recordLine(entry, validators[i]));
  }
  // Without a record the next run starts afresh, which costs time only.
  std::string ignored;
  writeRecordLines(download.installDir / kResumeRecordFileName, lines, ignored);
}

void recordPartsInFlight(const StagedDownload& download, const std::vector<std::pair<std::size_t, std::string>>& parts) {
  std::vector<std::vector<std::string>> lines;
  for (const auto& [index, validator] : parts) {
    const ManifestEntry entry = download.pending[index];
    if (mayBeRecorded(entry, validator)) lines.push_back(recordLine(entry, validator));
  }
  std::string ignored;
  writeRecordLines(download.installDir / kResumeRecordFileName, lines, ignored);
}

void forgetStagedParts(const StagedDownload& download) {
  platform::removeItem(download.installDir / kResumeRecordFileName);
}
