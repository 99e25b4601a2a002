#include "staging/download_pending.h"

#include <utility>

#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/ordered_download.h"
#include "staging/paths.h"
#include "staging/staged_parts.h"
#include "staging/url_escape.h"
#include "wire/server_endpoints.h"

namespace fs = std::filesystem;

namespace {

// Makes room for `entry` in the staging directory: its parent directories, its link when it
// is one, and no link where its file will be written.
PreparedEntry prepareStagedEntry(const StagedDownload& download, const ManifestEntry& entry) {
  PreparedEntry prepared;
  const auto failed = [&prepared](std::string errorText, FailureKind kind = FailureKind::local) {
    prepared.outcome = PreparedEntry::Outcome::Failed;
    prepared.failure = {kind, std::move(errorText)};
    return prepared;
  };
  const fs::path relative = platform::pathFromUtf8(entry.path);
  prepared.staged = manifestPathToLocal(download.stagingDir, entry.path);

  // A link left over from an earlier run could still lead a write out of the staging directory.
  fs::path linkedParent;
  if (const std::error_code error = findLinkedParent(download.stagingDir, relative, linkedParent)) {
    return failed("无法检查更新暂存路径：" + names::printableName(entry.path) + "（" + platform::errorCodeText(error) + "）");
  }
  if (!linkedParent.empty()) return failed("更新暂存路径经过软链接：" + names::printableName(entry.path), FailureKind::refused);

  // A failure shows up in the transfer or the link creation below.
  platform::createDirectories(prepared.staged.parent_path());

  if (!entry.link.empty()) {
    platform::removeItem(prepared.staged);
    if (const std::error_code error = platform::createFileSymlink(platform::fromUtf8(entry.link), prepared.staged)) {
      return failed("创建软链接失败：" + names::printableName(entry.path) + "（" + platform::errorCodeText(error) + "）");
    }
    return prepared;
  }

  // A link entry of the same path earlier in the list (or one that survived the reset)
  // would carry the transfer's writes to wherever it points: the file takes its place.
  bool stagedRedirects = false;
  if (const std::error_code error = platform::isRedirection(prepared.staged, stagedRedirects)) {
    return failed("无法检查更新暂存路径：" + names::printableName(entry.path) + "（" + platform::errorCodeText(error) + "）");
  }
  if (stagedRedirects && platform::removeItem(prepared.staged)) {
    return failed("更新暂存路径经过软链接：" + names::printableName(entry.path), FailureKind::refused);
  }

  prepared.outcome = PreparedEntry::Outcome::Fetch;
  prepared.url = download.baseUrl + kFileEndpoint + "?platform=" + download.filePlatform +
                 "&path=" + encodeManifestPath(entry.path);
  return prepared;
}

}  // namespace

StagedDownload stagedDownloadOf(UpdateChecker& checker) {
  return {checker.pending,
          checker.baseUrl,
          checker.filePlatform(),
          checker.installDir,
          checker.stagingDir,
          checker.parallelTransfers,
          checker.decoderWindowBudget,
          checker.bufferedObjectBytes,
          checker.transferContext()};
}

bool runStagedDownload(StagedDownload& download, const std::function<void(int, int)>& progress,
                       Failure& failure) {
  const ManifestEntryList& pending = download.pending;
  const std::filesystem::path& stagingDir = download.stagingDir;
  if (pending.empty()) return true;

  // The manifest comes from the network: refuse it whole before anything is written.
  std::string unsafePath;
  if (!findUnconfinedEntry(pending, unsafePath)) {
    failure = {FailureKind::refused, "更新清单路径不安全：" + names::printableName(unsafePath)};
    return false;
  }

  // Whatever an earlier run left must go, but a part of a file this run wants as it was: the
  // staging directory then holds only what this run fetched and checked, and that part, whose
  // bytes are checked with the rest.
  std::vector<std::string> validators;
  if (const std::error_code error = clearStagingKeepingParts(download, validators)) {
    failure = {FailureKind::local,
               "无法清理更新暂存目录：" + platform::pathToUtf8(stagingDir) + "（" + platform::errorCodeText(error) + "）"};
    return false;
  }
  if (platform::createDirectories(stagingDir)) {
    failure = {FailureKind::local, "无法创建更新暂存目录：" + platform::pathToUtf8(stagingDir)};
    return false;
  }

  const PrepareEntry prepare = [&download](const ManifestEntry& entry) { return prepareStagedEntry(download, entry); };
  download.installedDigests.load(download.installDir);
  if (runOrderedDownload(download, prepare, progress, validators, failure)) {
    forgetStagedParts(download);
    return true;
  }
  recordStagedParts(download, validators);
  return false;
}
