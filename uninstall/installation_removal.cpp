#include "uninstall/installation_removal.h"

#include <algorithm>
#include <iterator>

#include "names/installation_layout.h"
#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/paths.h"
#include "update/record_file.h"

namespace fs = std::filesystem;

namespace {

using platform::ItemKind;

// The launcher's executable: the caller removes it last, whatever the record says.
bool isLauncherFile(const std::string& path) {
  const std::string key = names::comparedPathKey(path);
  return key == names::comparedPathKey(kLauncherFileName) || key == names::comparedPathKey("Kestrun.exe");
}

// Whether Windows could open another item by the path: an element of the form of a short
// (8.3) name, of whatever name ("KESTRU~1.EXE" may be the launcher, "DATA~1" a folder of the
// user's), or ending in a dot or blank. Which item it would be cannot be told from here.
bool mayNameAnotherItem(const std::string& path) {
  static const std::vector<std::string> kAnyName{"*"};
  return names::findElementProblem(path, {}, kAnyName) != names::ElementProblem::None;
}

// A relative path as the record writes it, for the lines that name it.
std::string shownPath(const fs::path& relative) {
  std::string text = platform::pathToUtf8(relative);
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::size_t depth(const fs::path& path) { return static_cast<std::size_t>(std::distance(path.begin(), path.end())); }

bool isEmptyFolder(const fs::path& folder, std::error_code& error) {
  std::vector<platform::DirectoryItem> items;
  error = platform::listDirectory(folder, items);
  return !error && items.empty();
}

}  // namespace

InstallationRemoval::InstallationRemoval(fs::path installDir, std::ostream& out)
    : installDir_(std::move(installDir)), out_(out) {}

void InstallationRemoval::fail(const std::string& shown, const std::error_code& error) {
  out_ << "无法删除：" << shown << "；原因：" << platform::errorCodeText(error) << "\n";
  ++failed_;
}

bool InstallationRemoval::reachedThroughLink(const fs::path& relative, const std::string& shown) {
  fs::path linked;
  if (const std::error_code error = findLinkedParent(installDir_, relative, linked)) {
    fail(shown, error);
    return true;
  }
  if (linked.empty()) return false;
  out_ << "跳过经过链接目录的路径：" << shown << "\n";
  return true;
}

void InstallationRemoval::removeRecordedPaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const std::string shown = names::printableName(path);
    if (!isConfinedManifestPath(path) || isLauncherOwnPath(path) || isLauncherFile(path) || mayNameAnotherItem(path)) {
      out_ << "跳过记录中不允许的路径：" << shown << "\n";
      continue;
    }
    const fs::path relative = manifestPathToLocal(fs::path(), path).lexically_normal();
    for (fs::path parent = relative.parent_path(); !parent.empty(); parent = parent.parent_path()) {
      folders_.insert(parent);
    }
    const std::size_t failedBefore = failed_;
    if (reachedThroughLink(relative, shown)) {
      if (failed_ != failedBefore) tried_.emplace_back(path, fs::path());
      continue;
    }
    tried_.emplace_back(path, relative);
    removeLocal(relative, shown);
  }
}

void InstallationRemoval::removeLocal(const fs::path& relative, const std::string& shown) {
  const fs::path local = installDir_ / relative;
  ItemKind kind = ItemKind::Missing;
  bool redirects = false;
  if (std::error_code error = platform::queryItemKind(local, false, kind)) return fail(shown, error);
  if (std::error_code error = platform::isRedirection(local, redirects)) return fail(shown, error);
  if (kind == ItemKind::Missing) return;
  // A folder goes only once it is empty; a junction, like a link, is removed as itself.
  if (kind == ItemKind::Directory && !redirects) {
    folders_.insert(relative);
    return;
  }
  if (std::error_code error = platform::removeItem(local)) return fail(shown, error);
  ++removed_;
}

void InstallationRemoval::removeTopItem(const std::string& name) {
  const fs::path item = installDir_ / name;
  ItemKind kind = ItemKind::Missing;
  if (std::error_code error = platform::queryItemKind(item, false, kind)) return fail(name, error);
  if (kind == ItemKind::Missing) return;
  // The staging and rollback folders go whole; a link inside is removed, never followed.
  if (std::error_code error = platform::removeTree(item)) return fail(name, error);
  ++removed_;
}

void InstallationRemoval::removeOwnItems() {
  for (const std::string& name : launcherOwnTopNames()) {
    if (name == kInstallationLockFileName || name == kInstalledPathsRecordFileName) continue;
    if (name != kLogDirectoryName) {
      removeTopItem(name);
      continue;
    }
    // The main program may keep logs of its own there: only the launcher's daily files go.
    const fs::path logs = installDir_ / name;
    bool redirects = false;
    std::vector<platform::DirectoryItem> items;
    if (platform::isRedirection(logs, redirects) || redirects || platform::listDirectory(logs, items)) {
      if (redirects) removeTopItem(name);
      continue;
    }
    for (const platform::DirectoryItem& item : items) {
      const std::string shown = name + "/" + platform::pathToUtf8(item.path.filename());
      if (item.kind == ItemKind::Directory || !isLauncherOwnPath(shown)) continue;
      if (std::error_code error = platform::removeItem(item.path)) {
        fail(shown, error);
      } else {
        ++removed_;
      }
    }
    folders_.insert(fs::path(name));
  }
}

void InstallationRemoval::removeEmptyFolders() {
  std::vector<fs::path> folders(folders_.begin(), folders_.end());
  std::stable_sort(folders.begin(), folders.end(),
                   [](const fs::path& a, const fs::path& b) { return depth(a) > depth(b); });
  for (const fs::path& folder : folders) {
    const std::string shown = shownPath(folder);
    const fs::path local = installDir_ / folder;
    ItemKind kind = ItemKind::Missing;
    bool redirects = false;
    std::error_code error = platform::queryItemKind(local, false, kind);
    if (!error) error = platform::isRedirection(local, redirects);
    if (error) {
      fail(shown, error);
      continue;
    }
    if (kind != ItemKind::Directory || redirects || reachedThroughLink(folder, shown)) continue;
    // A folder that still holds the user's files stays, and is counted among what is left.
    if (!isEmptyFolder(local, error)) {
      if (error) fail(shown, error);
      continue;
    }
    if ((error = platform::removeItem(local))) {
      fail(shown, error);
    } else {
      ++removed_;
    }
  }
}

void InstallationRemoval::settleRecord() {
  // Once all went well nothing recorded is left but the folders that hold the user's files.
  std::vector<std::vector<std::string>> left;
  for (std::size_t i = 0; failed_ > 0 && i < tried_.size(); ++i) {
    ItemKind kind = ItemKind::Missing;
    const fs::path& relative = tried_[i].second;
    if (relative.empty() || platform::queryItemKind(installDir_ / relative, false, kind) || kind != ItemKind::Missing) {
      left.push_back({tried_[i].first});
    }
  }
  if (left.empty()) return removeTopItem(kInstalledPathsRecordFileName);
  // Through a fresh file and a rename: the old record stays whole if this fails.
  if (std::string errorText; !writeRecordLines(installDir_ / kInstalledPathsRecordFileName, left, errorText)) {
    out_ << "无法改写已安装路径记录：" << errorText << "\n";
    ++failed_;
  }
}

std::size_t InstallationRemoval::countLeftItems() const {
  std::size_t left = 0;
  std::vector<fs::path> todo{installDir_};
  while (!todo.empty()) {
    const fs::path folder = todo.back();
    todo.pop_back();
    std::vector<platform::DirectoryItem> items;
    platform::listDirectory(folder, items);
    for (const platform::DirectoryItem& item : items) {
      if (folder == installDir_ && isLauncherFile(platform::pathToUtf8(item.path.filename()))) continue;
      ++left;
      bool redirects = false;
      if (item.kind == ItemKind::Directory && !platform::isRedirection(item.path, redirects) && !redirects) {
        todo.push_back(item.path);
      }
    }
  }
  return left;
}
