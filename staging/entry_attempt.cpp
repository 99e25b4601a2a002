#include "staging/entry_attempt.h"

#include <cstdint>

#include "platform/filesystem.h"
#include "staging/paths.h"

namespace {

// Whether the staged copy is the entry's file as far as the manifest describes it: a body cut
// short (a server that closes early without announcing a length) still ends with success.
// An entry without a size (negative) is taken as it came.
bool stagedFileMatches(const ManifestEntry& entry, const std::filesystem::path& staged, std::string& errorText) {
  if (entry.size < 0) return true;
  std::uint64_t size = 0;
  if (const std::error_code error = platform::fileSize(staged, size)) {
    errorText = "无法读取暂存文件大小：" + fsErrorMessage(error);
    return false;
  }
  if (size == static_cast<std::uint64_t>(entry.size)) return true;
  errorText = "文件大小不符：清单=" + std::to_string(entry.size) + "，实际=" + std::to_string(size);
  return false;
}

}  // namespace

bool EntryAttempt::start(const std::string& url, std::string& errorText) {
  Sha256Stream* hash = entry_.sha256.empty() ? nullptr : &received_;
  return transfer_.prepare(checker_, url, staged_, hash, entry_.size, errorText);
}

bool EntryAttempt::finish(CURLcode result, std::string& errorText) {
  if (!transfer_.finish(result, errorText)) return false;
  if (!entry_.sha256.empty()) {
    const std::string digest = received_.finishHex();
    if (digest != entry_.sha256) {
      // Whatever goes wrong afterwards, these bytes must not be found in the staging directory.
      platform::removeItem(staged_);
      errorText = "sha256 不一致：应为 " + entry_.sha256 + "，收到 " + digest;
      return false;
    }
  }
  return stagedFileMatches(entry_, staged_, errorText);
}
