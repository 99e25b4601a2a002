// applyStaging: puts what the staged download left in the staging directory into the
// installation. Runs on the main thread after the main program has been stopped.

#include "staging/staging_apply.h"

#include <exception>

#include "log/launcher_log.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/paths.h"
#include "update/name_pattern.h"

namespace fs = std::filesystem;

namespace {

// The installed main program. The manifest carries no permission bits, so on systems that
// have them a first installation would otherwise leave it unable to start.
const char* const kMainProgramName = "Vardel.exe";

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

// Depth first, a directory's contents right after the directory; links and junctions are
// never entered.
// Stops at the first error and returns it, keeping what was found before.
std::error_code collectStagedItems(const fs::path& directory, StagedItems& items) {
  std::vector<platform::DirectoryItem> listed;
  const std::error_code listError = platform::listDirectory(directory, listed);
  for (const platform::DirectoryItem& item : listed) {
    if (item.kind == platform::ItemKind::Symlink) {
      items.links.push_back(item.path);
    } else if (item.kind == platform::ItemKind::Regular) {
      items.files.push_back(item.path);
    } else if (item.kind == platform::ItemKind::Directory) {
      // A junction lists as a directory; entering it would move another place's files.
      bool redirects = false;
      if (std::error_code error = platform::isRedirection(item.path, redirects)) return error;
      if (redirects) continue;
      if (std::error_code error = collectStagedItems(item.path, items)) return error;
    }
  }
  return listError;
}

bool matchesAnyPattern(const std::string& name, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns)
    if (matchesNamePattern(name, pattern)) return true;
  return false;
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
               ApplyCounts& counts) {
  const fs::path relative = stagedRelativePath(file, stagingDir);
  if (relative.empty()) return;
  const fs::path target = installDir / relative;
  const std::string relText = platform::pathToUtf8(relative);
  const std::string name = platform::pathToUtf8(relative.filename());

  if (matchesAnyPattern(name, forbiddenPatterns)) {
    ++counts.forbidden;
    return;
  }
  const bool locked = matchesAnyPattern(name, lockedPatterns);

  platform::ItemKind kind = platform::ItemKind::Missing;
  if (const std::error_code error = platform::queryItemKind(target, true, kind)) {
    ++counts.failed;
    logError("检查目标文件失败：" + relText + "；原因：" + formatFsError(error));
    return;
  }
  if (locked && kind != platform::ItemKind::Missing) {
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
  const bool isMainProgram = relText == kMainProgramName;

  std::error_code moveError;
  if (!moveStagedFile(file, target, moveError)) {
    ++counts.failed;
    logError("更新文件落地失败：" + relText + "；原因：" + formatFsError(moveError));
    return;
  }
  ++counts.applied;
  if (wasExecutable || isMainProgram) {
    if (const std::error_code error = platform::makeExecutable(target))
      logWarn("设置可执行权限失败：" + relText + "；原因：" + formatFsError(error));
  }
}

void applyLink(const fs::path& link, const fs::path& stagingDir, const fs::path& installDir, ApplyCounts& counts) {
  const fs::path relative = stagedRelativePath(link, stagingDir);
  if (relative.empty()) return;
  const std::string relText = platform::pathToUtf8(relative);

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
  // Whatever stands in the link's place goes, a whole directory tree included; a failure
  // shows up when the link is created.
  platform::removeTree(target);
  platform::createDirectories(target.parent_path());
  if (const std::error_code error = platform::createFileSymlink(storedTarget, target)) {
    ++counts.failed;
    logError("更新软链接落地失败：" + relText + "；原因：" + formatFsError(error));
    return;
  }
  ++counts.applied;
}

int applyStagingUnguarded(const fs::path& stagingDir, const fs::path& installDir,
                          const std::vector<std::string>& lockedPatterns,
                          const std::vector<std::string>& forbiddenPatterns) {
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

  StagedItems items;
  if (const std::error_code error = collectStagedItems(stagingDir, items))
    logError("遍历更新暂存目录失败：" + stagingText + "；原因：" + formatFsError(error));

  logInfo("开始更新落地：普通文件=" + std::to_string(items.files.size()) +
          "，软链接=" + std::to_string(items.links.size()));

  ApplyCounts counts;
  // Regular files first: a link must not change where a file of the same run lands.
  for (const fs::path& file : items.files)
    applyFile(file, stagingDir, installDir, lockedPatterns, forbiddenPatterns, counts);
  for (const fs::path& link : items.links) applyLink(link, stagingDir, installDir, counts);

  if (const std::error_code error = platform::removeTree(stagingDir))
    logWarn("清理更新暂存目录失败：" + stagingText + "；原因：" + formatFsError(error));

  logInfo("更新落地结束：成功=" + std::to_string(counts.applied) + "，失败=" + std::to_string(counts.failed) +
          "，跳过锁定=" + std::to_string(counts.skippedLocked) + "，禁止落地=" + std::to_string(counts.forbidden));
  return counts.applied;
}

}  // namespace

int applyStaging(const fs::path& stagingDir, const fs::path& installDir, const std::vector<std::string>& lockedPatterns,
                 const std::vector<std::string>& forbiddenPatterns) {
  // The one place where the apply step turns unexpected errors into log lines; the
  // staging directory then stays for a later run.
  try {
    return applyStagingUnguarded(stagingDir, installDir, lockedPatterns, forbiddenPatterns);
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
