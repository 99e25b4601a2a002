// UpdateChecker::downloadPending: fetches every pending entry into the staging directory.
// Nothing outside the staging directory is written here; the installation is changed only
// by the apply step afterwards.

#include <chrono>
#include <cstdint>
#include <thread>

#include "log/launcher_log.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/monotonic_pause.h"
#include "staging/paths.h"
#include "staging/url_escape.h"
#include "update/entry_download.h"
#include "update/server_endpoints.h"
#include "update/update_checker.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTransferRetries = 3;

// Whether the staged copy is the entry's file as far as the manifest describes it: a body cut
// short (a server that closes early without announcing a length) still ends with success.
// An entry without a size (negative) is taken as it came.
bool stagedFileMatches(const ManifestEntry& entry, const fs::path& staged, std::string& errorText) {
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

bool UpdateChecker::downloadPending(const std::function<void(int, int)>& progress, std::string& errorText) {
  if (pending.empty()) return true;

  // The manifest comes from the network: refuse it whole before anything is written.
  std::string unsafePath;
  if (!findUnconfinedEntry(pending, unsafePath)) {
    errorText = "更新清单路径不安全：" + unsafePath;
    return false;
  }

  // Whatever an earlier run left must go: the staging directory then holds only what this
  // run fetched and checked.
  if (const std::error_code error = platform::removeTree(stagingDir)) {
    errorText = "无法清理更新暂存目录：" + platform::pathToUtf8(stagingDir) + "（" + fsErrorMessage(error) + "）";
    return false;
  }
  if (platform::createDirectories(stagingDir)) {
    errorText = "无法创建更新暂存目录：" + platform::pathToUtf8(stagingDir);
    return false;
  }

  const PathEscaper escaper;
  const int total = static_cast<int>(pending.size());
  for (int i = 0; i < total; ++i) {
    const ManifestEntry& entry = pending[static_cast<std::size_t>(i)];
    if (cancelCheck && cancelCheck()) {
      errorText = kCancelledText;
      return false;
    }
    if (progress) progress(i, total);

    const fs::path relative = platform::pathFromUtf8(entry.path);
    const fs::path staged = manifestPathToLocal(stagingDir, entry.path);

    // A link left over from an earlier run could still lead a write out of the staging directory.
    fs::path linkedParent;
    if (const std::error_code error = findLinkedParent(stagingDir, relative, linkedParent)) {
      errorText = "无法检查更新暂存路径：" + entry.path + "（" + fsErrorMessage(error) + "）";
      return false;
    }
    if (!linkedParent.empty()) {
      errorText = "更新暂存路径经过软链接：" + entry.path;
      return false;
    }

    // A failure shows up in the transfer or the link creation below.
    platform::createDirectories(staged.parent_path());

    if (!entry.link.empty()) {
      platform::removeItem(staged);
      if (const std::error_code error = platform::createFileSymlink(platform::fromUtf8(entry.link), staged)) {
        errorText = "创建软链接失败：" + entry.path + "（" + fsErrorMessage(error) + "）";
        return false;
      }
      continue;
    }

    // A link entry of the same path earlier in the list (or one that survived the reset)
    // would carry the transfer's writes to wherever it points: the file takes its place.
    bool stagedRedirects = false;
    if (const std::error_code error = platform::isRedirection(staged, stagedRedirects)) {
      errorText = "无法检查更新暂存路径：" + entry.path + "（" + fsErrorMessage(error) + "）";
      return false;
    }
    if (stagedRedirects && platform::removeItem(staged)) {
      errorText = "更新暂存路径经过软链接：" + entry.path;
      return false;
    }

    const std::string url =
        baseUrl + kFileEndpoint + "?platform=" + platform + "&path=" + escaper.encodePath(entry.path);
    std::string transferError;
    const auto fetch = [&] {
      return downloadEntryFile(*this, url, staged, entry, transferError) &&
             stagedFileMatches(entry, staged, transferError);
    };
    bool done = fetch();
    for (int retry = 1; !done; ++retry) {
      if (transferError == kCancelledText) {
        errorText = kCancelledText;
        return false;
      }
      if (retry > kTransferRetries) {
        errorText = "下载文件失败：" + entry.path + "（" + transferError + "）";
        return false;
      }
      logWarn("下载文件失败，将进行第 " + std::to_string(retry) + "/" + std::to_string(kTransferRetries) +
              " 次重试：" + entry.path + "（" + transferError + "）");
      pauseOnMonotonicClock(std::chrono::seconds(1));
      if (cancelCheck && cancelCheck()) {
        errorText = kCancelledText;
        return false;
      }
      transferError.clear();
      done = fetch();
    }

    if (entry.mtime > 0) platform::setLastWriteFileTime(staged, platform::unixSecondsToFileTime(entry.mtime));
  }
  return true;
}
