#include "tests/support/temp_dir.h"

#include "platform/filesystem.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

namespace testing_support {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    path_ = base / ("kestrun-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  // The launcher's own removal: read-only files go too, links are never followed, and a file
  // still held open ends it with an error instead of an endless retry.
  platform::removeTree(path_);
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::filesystem::path& file, const std::string& content) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

void setFileTime(const std::filesystem::path& file, std::int64_t seconds) {
  const std::error_code error = platform::setLastWriteFileTime(file, platform::unixSecondsToFileTime(seconds));
  if (error) throw std::filesystem::filesystem_error("cannot set the file time", file, error);
}

bool writeFileAt(const std::filesystem::path& file, const std::string& content, std::int64_t seconds) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) return false;
  }
  setFileTime(file, seconds);
  return true;
}

}  // namespace testing_support
