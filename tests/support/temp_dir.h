#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace testing_support {

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for test fixtures.
std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& content);
// Sets the file's modification time to `seconds` since 1970 (UTC); throws when it cannot.
void setFileTime(const std::filesystem::path& file, std::int64_t seconds);
// writeFile, then setFileTime; false when the content could not be written.
bool writeFileAt(const std::filesystem::path& file, const std::string& content, std::int64_t seconds);

}  // namespace testing_support
