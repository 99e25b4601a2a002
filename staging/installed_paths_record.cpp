#include "staging/installed_paths_record.h"

#include <set>

#include "names/installation_layout.h"
#include "update/record_file.h"

std::vector<std::string> readInstalledPaths(const std::filesystem::path& installDir) {
  std::vector<std::string> paths;
  for (std::vector<std::string>& fields : readRecordLines(installDir / kInstalledPathsRecordFileName)) {
    if (fields.size() != 1) continue;
    std::string& path = fields.front();
    if (!path.empty() && path.back() == '\r') path.pop_back();
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

bool recordInstalledPaths(const std::filesystem::path& installDir, const ManifestEntryList& applied,
                          std::string& errorText) {
  const std::vector<std::string> old = readInstalledPaths(installDir);
  std::set<std::string> paths(old.begin(), old.end());
  for (std::size_t i = 0; i < applied.size(); ++i) paths.emplace(applied.path(i));
  std::vector<std::vector<std::string>> lines;
  for (const std::string& path : paths) {
    if (isRecordField(path)) lines.push_back({path});
  }
  return writeRecordLines(installDir / kInstalledPathsRecordFileName, lines, errorText);
}
