#include "staging/installed_paths_record.h"

#include <set>

#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "update/record_file.h"

InstalledPathsRead readInstalledPaths(const std::filesystem::path& installDir, std::vector<std::string>& paths) {
  paths.clear();
  const std::filesystem::path file = installDir / kInstalledPathsRecordFileName;
  std::vector<std::vector<std::string>> lines;
  if (!readRecordLines(file, lines)) {
    // No record and a record that cannot be read look alike there: only the first is no record.
    platform::ItemKind kind = platform::ItemKind::Missing;
    const bool missing = !platform::queryItemKind(file, false, kind) && kind == platform::ItemKind::Missing;
    return missing ? InstalledPathsRead::Missing : InstalledPathsRead::Unreadable;
  }
  for (std::vector<std::string>& fields : lines) {
    if (fields.size() != 1) continue;
    std::string& path = fields.front();
    if (!path.empty() && path.back() == '\r') path.pop_back();
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return InstalledPathsRead::Read;
}

InstalledPathsWrite recordInstalledPaths(const std::filesystem::path& installDir, const ManifestEntryList& pending,
                                         std::string& errorText) {
  std::vector<std::string> old;
  if (readInstalledPaths(installDir, old) == InstalledPathsRead::Unreadable) {
    errorText = platform::pathToUtf8(installDir / kInstalledPathsRecordFileName);
    return InstalledPathsWrite::OldUnreadable;
  }
  std::set<std::string> paths(old.begin(), old.end());
  for (std::size_t i = 0; i < pending.size(); ++i) paths.emplace(pending.path(i));
  std::vector<std::vector<std::string>> lines;
  for (const std::string& path : paths) {
    if (isRecordField(path)) lines.push_back({path});
  }
  const bool written = writeRecordLines(installDir / kInstalledPathsRecordFileName, lines, errorText);
  return written ? InstalledPathsWrite::Written : InstalledPathsWrite::Failed;
}
