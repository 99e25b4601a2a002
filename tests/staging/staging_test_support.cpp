#include "tests/staging/staging_test_support.h"

#include <algorithm>
#include <sstream>

#include "log/launcher_log.h"

namespace fs = std::filesystem;

namespace staging_test {

CapturedLog::CapturedLog() { openLauncherLog(directory_.path(), 30); }

CapturedLog::~CapturedLog() { closeLauncherLog(); }

std::vector<std::string> CapturedLog::lines() const {
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(directory_ / "logs")) files.push_back(item.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> result;
  for (const fs::path& file : files) {
    std::istringstream in(testing_support::readFile(file));
    std::string line;
    // "[date time.ms] [LEVEL] [pid=N] message"
    while (std::getline(in, line)) {
      const std::size_t levelStart = line.find("] [");
      const std::size_t levelEnd = line.find("] [pid=", levelStart + 3);
      const std::size_t messageStart = line.find("] ", levelEnd + 7);
      if (levelStart == std::string::npos || levelEnd == std::string::npos || messageStart == std::string::npos)
        continue;
      result.push_back(line.substr(levelStart + 3, levelEnd - levelStart - 3) + " " + line.substr(messageStart + 2));
    }
  }
  return result;
}

std::vector<std::string> CapturedLog::messages(const std::string& level) const {
  std::vector<std::string> result;
  for (const std::string& line : lines())
    if (line.compare(0, level.size() + 1, level + " ") == 0) result.push_back(line.substr(level.size() + 1));
  return result;
}

void CapturedLog::mark() { marked_ = lines().size(); }

std::vector<std::string> CapturedLog::linesSinceMark() const {
  std::vector<std::string> all = lines();
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(marked_, all.size())), all.end());
}

bool CapturedLog::contains(const std::string& text) const {
  for (const std::string& line : lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::vector<std::string> describeTree(const fs::path& root) {
  std::vector<std::string> result;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path relative = it->path().lexically_relative(root);
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) {
      result.push_back(relative.generic_string() + "@" + fs::read_symlink(it->path()).string());
    } else if (fs::is_directory(status)) {
      result.push_back(relative.generic_string() + "/");
    } else {
      result.push_back(relative.generic_string() + ":" + testing_support::readFile(it->path()));
    }
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::vector<ManifestEntry> entriesOfTree(const fs::path& root) {
  std::vector<ManifestEntry> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string path = it->path().lexically_relative(root).generic_u8string();
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) entries.push_back(ManifestEntry{path, 0, 0, "link"});
    if (fs::is_regular_file(status)) entries.push_back(ManifestEntry{path, 0, 0, ""});
  }
  return entries;
}

int appliedInSummary(const std::vector<std::string>& lines) {
  const std::string label = "INFO 更新落地结束：成功=";
  int applied = -1;
  for (const std::string& message : lines) {
    if (message.compare(0, label.size(), label) != 0) continue;
    applied = std::stoi(message.substr(label.size()));
  }
  return applied;
}

}  // namespace staging_test
