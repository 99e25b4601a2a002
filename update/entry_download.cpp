#include "update/entry_download.h"

#include "platform/filesystem.h"
#include "trust/sha256_hex.h"

bool downloadEntryFile(UpdateChecker& checker, const std::string& url, const std::filesystem::path& destination,
                       const ManifestEntry& entry, std::string& errorText) {
  // No more bytes than the entry announces reach the disk; an entry without a size takes
  // what comes.
  const std::int64_t maxBytes = entry.size;
  if (entry.sha256.empty()) return checker.httpGetToFile(url, destination, errorText, nullptr, maxBytes);

  Sha256Stream received;
  if (!checker.httpGetToFile(url, destination, errorText, &received, maxBytes)) return false;
  const std::string digest = received.finishHex();
  if (digest == entry.sha256) return true;
  // Whatever goes wrong afterwards, these bytes must not be found in the staging directory.
  platform::removeItem(destination);
  errorText = "sha256 不一致：应为 " + entry.sha256 + "，收到 " + digest;
  return false;
}
