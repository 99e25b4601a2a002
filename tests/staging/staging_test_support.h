#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "update/manifest_entry.h"

namespace staging_test {

// Opens the launcher log in a directory of its own for the life of the object, so that
// tests read the lines exactly as the launcher writes them.
class CapturedLog {
 public:
  CapturedLog();
  ~CapturedLog();
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // Messages of every line so far, as "LEVEL message" (the time and pid left off).
  std::vector<std::string> lines() const;
  // Messages of the lines of one level, in order.
  std::vector<std::string> messages(const std::string& level) const;
  // Lines written after the moment mark() was last called.
  void mark();
  std::vector<std::string> linesSinceMark() const;
  // Whether any line so far contains the text.
  bool contains(const std::string& text) const;

 private:
  testing_support::TempDir directory_;
  std::size_t marked_ = 0;
};

// Every item below `root` as "relative/path" plus a kind mark ("/" for a directory,
// "@target" for a link, ":content" for a file), sorted; links are not followed.
std::vector<std::string> describeTree(const std::filesystem::path& root);

// The regular files and links below `root` as the manifest entries that staged them.
std::vector<ManifestEntry> entriesOfTree(const std::filesystem::path& root);

// The number after "成功=" in the summary line of the apply step among `lines` (as
// CapturedLog gives them), or -1 when there is none.
int appliedInSummary(const std::vector<std::string>& lines);

}  // namespace staging_test
