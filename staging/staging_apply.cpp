// applyStaging: puts the files that the staged download fetched and checked into the
// installation. Runs on the main thread after the main program has been stopped.

#include "staging/staging_apply.h"

#include <exception>
#include <string_view>
#include <unordered_map>

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "names/name_pattern.h"
#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/paths.h"

namespace fs = std::filesystem;

namespace {

struct StagedItems {
  std::vector<fs::path> files;
  std::vector<fs::path> links;
};

struct ApplyCounts {
  int applied = 0;
  int failed = 0;
  int skippedLocked = 0;
  int forbidden = 0;
};

// The staged items of the entries this run fetched and checked, files apart from links; of
// entries with the same path, the last one stands, as it did in the staging directory.
StagedItems stagedItemsOf(const ManifestEntryList& verified, const fs::path& stagingDir) {
  std::unordered_map<std::string_view, std::size_t> lastOfPath;
  for (std::size_t i = 0; i < verified.size(); ++i) lastOfPath[verified.path(i)] = i;
  StagedItems items;
  for (std::size_t i = 0; i < verified.size(); ++i) {
    if (lastOfPath[verified.path(i)] != i) continue;
    fs::path staged = manifestPathToLocal(stagingDir, std::string(verified.path(i)));
    (verified.isLink(i) ? items.links : items.files).push_back(std::move(staged));
  }
  return items;
}

// The item's path below the staging directory, or empty when it is none.
fs::path stagedRelativePath(const fs::path& item, const fs::path& stagingDir) {
  fs::path relative = relativeToBase(item, stagingDir);
  if (relative.empty() || *relative.begin() == "..") return {};
  return relative;
}

// A directory of the installation that is a symbolic link would carry the write to wherever
// it points. Logs and returns false when the target must not be written.
bool targetStaysInside(const fs::path& installDir, const fs::path& relative, const std::string& relText) {
  fs::path linkedParent;
  if (const std::error_code error = findLinkedParent(installDir, relative, linkedParent)) {
    logError("检查目标文件失败：" + relText + "；原因：" + formatFsError(error));
    return false;
  }
  if (!linkedParent.empty()) {
    logError("更新落地路径不安全：" + relText + "；原因：上级目录是软链接：" + platform::pathToUtf8(linkedParent));
    return false;
  }
  return true;
}

void applyFile(const fs::path& file, const fs::path& stagingDir, const fs::path& installDir,
               const std::vector<std::string>& lockedPatterns, const std::vector<std::string>& forbiddenPatterns,
               RollbackJournal* journal, ApplyCounts& counts) {
  const fs::path relative = stagedRelativePath(file, stagingDir);
  if (relative.empty()) return;
  const fs::path target = installDir / relative;
  const std::string relText = names::printableName(platform::pathToUtf8(relative));
  const std::string name = platform::pathToUtf8(relative.filename());

  if (names::matchesAnyNamePattern(name, forbiddenPatterns)) {
    ++counts.forbidden;
    return;
  }
  const bool locked = names::matchesAnyNamePattern(name, lockedPatterns);

  platform::ItemKind kind = platform::ItemKind::Missing;
  if (const std::error_code error = platform::queryItemKind(target, true, kind)) {
    ++counts.failed;
    logError("检查目标文件失败：" + relText + "；原因：" + formatFsError(error));
    return;
  }
  // A short alias (VCRUNT~1.DLL) must not replace the locked file it names.
  if (kind != platform::ItemKind::Missing &&
      (locked || names::matchesAnyNamePattern(platform::storedFileName(target), lockedPatterns))) {
    ++counts.skippedLocked;
    return;
  }
  if (!targetStaysInside(installDir, relative, relText)) {
    ++counts.failed;
    return;
  }

  // The manifest has no permission bits: a replaced file keeps the executable bit it had,
  // and the main program at the top of the installation always gets it. (No-ops on Windows.)
  bool wasExecutable = false;
  if (kind == platform::ItemKind::Regular) platform::isExecutableFile(target, wasExecutable);
  const bool isMainProgram = relText == kMainProgramFileName;

  // Only the regular file this run wrote is moved, never what may have taken its place.
  platform::ItemKind stagedKind = platform::ItemKind::Missing;
  std::error_code moveError = platform::queryItemKind(file, false, stagedKind);
  if (!moveError && stagedKind != platform::ItemKind::Regular) {
    moveError = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  // What the update replaces is moved aside first when the release may be taken back.
  if (!moveError && journal && !journal->keep(relative)) {
    ++counts.failed;
    return;
  }
  if (moveError || !moveStagedFile(file, target, moveError)) {
    ++counts.failed;
    logError("更新文件落地失败：" + relText + "；原因：" + formatFsError(moveError));
    if (journal) journal->putBack(relative);
    return;
  }
  ++counts.applied;
  if (wasExecutable || isMainProgram) {
    if (const std::error_code error = platform::makeExecutable(target))
      logWarn("设置可执行权限失败：" + relText + "；原因：" + formatFsError(error));
  }
}

void applyLink(const fs::path& link, const fs::path& stagingDir, const fs::path& installDir, RollbackJournal* journal,
               ApplyCounts& counts) {
  const fs::path relative = stagedRelativePath(link, stagingDir);
  if (relative.empty()) return;
  const std::string relText = names::printableName(platform::pathToUtf8(relative));

  platform::NativeString storedTarget;
  if (const std::error_code error = platform::readSymlinkTarget(link, storedTarget)) {
    ++counts.failed;
    logError("读取暂存软链接失败：" + relText + "；原因：" + formatFsError(error));
    return;
  }
  if (!targetStaysInside(installDir, relative, relText)) {
    ++counts.failed;
    return;
  }
  const fs::path target = installDir / relative;
  if (journal && !journal->keep(relative)) {
    ++counts.failed;
    return;
  }
  // Whatever stands in the link's place goes, a whole directory tree included; a failure
  // shows up when the link is created.
  platform::removeTree(target);
  platform::createDirectories(target.parent_path());
  if (const std::error_code error = platform::createFileSymlink(storedTarget, target)) {
    ++counts.failed;
    logError("更新软链接落地失败：" + relText + "；原因：" + formatFsError(error));
    if (journal) journal->putBack(relative);
    return;
  }
  ++counts.applied;
}

int applyStagingUnguarded(const fs::path& stagingDir, const fs::path& installDir,
                          const ManifestEntryList& verified, const std::vector<std::string>& lockedPatterns,
                          const std::vector<std::string>& forbiddenPatterns, RollbackJournal* journal) {
  const std::string stagingText = platform::pathToUtf8(stagingDir);

  platform::ItemKind stagingKind = platform::ItemKind::Missing;
  if (const std::error_code error = platform::queryItemKind(stagingDir, true, stagingKind)) {
    logError("无法检查更新暂存目录：" + stagingText + "；原因：" + formatFsError(error));
    return 0;
  }
  if (stagingKind == platform::ItemKind::Missing) {
    logWarn("更新落地跳过：暂存目录不存在：" + stagingText);
    return 0;
  }
  // The download always makes a real directory; a link here would move files out of
  // another place.
  bool stagingRedirects = false;
  if (!platform::isRedirection(stagingDir, stagingRedirects) && stagingRedirects) {
    logError("更新暂存目录是软链接，跳过落地：" + stagingText);
    return 0;
  }

  const StagedItems items = stagedItemsOf(verified, stagingDir);

  logInfo("开始更新落地：普通文件=" + std::to_string(items.files.size()) +
          "，软链接=" + std::to_string(items.links.size()));

  ApplyCounts counts;
  // Regular files first: a link must not change where a file of the same run lands.
  for (const fs::path& file : items.files)
    applyFile(file, stagingDir, installDir, lockedPatterns, forbiddenPatterns, journal, counts);
  for (const fs::path& link : items.links) applyLink(link, stagingDir, installDir, journal, counts);

  if (const std::error_code error = platform::removeTree(stagingDir))
    logWarn("清理更新暂存目录失败：" + stagingText + "；原因：" + formatFsError(error));

  logInfo("更新落地结束：成功=" + std::to_string(counts.applied) + "，失败=" + std::to_string(counts.failed) +
          "，跳过锁定=" + std::to_string(counts.skippedLocked) + "，禁止落地=" + std::to_string(counts.forbidden));
  return counts.applied;
}

}  // namespace

int applyStaging(const fs::path& stagingDir, const fs::path& installDir, const ManifestEntryList& verified,
                 const std::vector<std::string>& lockedPatterns, const std::vector<std::string>& forbiddenPatterns,
                 RollbackJournal* journal) {
  // The one place where the apply step turns unexpected errors into log lines; the
  // staging directory then stays for a later run.
  try {
    return applyStagingUnguarded(stagingDir, installDir, verified, lockedPatterns, forbiddenPatterns, journal);
  } catch (const fs::filesystem_error& error) {
    std::string line = "更新落地发生未捕获的文件系统异常：" + formatFsError(error.code());
    if (!error.path1().empty()) line += "；路径1=" + platform::pathToUtf8(error.path1());
    if (!error.path2().empty()) line += "；路径2=" + platform::pathToUtf8(error.path2());
    logError(line);
  } catch (const std::exception& error) {
    logError(std::string("更新落地发生未捕获异常：") + error.what());
  } catch (...) {
    logError("更新落地发生未知异常");
  }
  return 0;
}
