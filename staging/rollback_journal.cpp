#include "staging/rollback_journal.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>
#include <vector>

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "staging/confinement.h"
#include "staging/monotonic_pause.h"
#include "staging/paths.h"
#include "update/record_file.h"
#include "update/rollout_offer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kJournalFileName = "journal.txt";
constexpr const char* kStateFileName = "state.txt";
constexpr const char* kKeptDirectoryName = "kept";
// Releases remembered as refused: far more than one machine ever takes back.
constexpr std::size_t kRefusedReleasesKept = 50;
// A scanner or the ended program may hold a file for a moment: retry about five seconds.
constexpr int kMoveAttempts = 50;

fs::path folderOf(const fs::path& installDir) { return installDir / kRollbackDirectoryName; }
fs::path keptPath(const fs::path& installDir, const fs::path& relative) {
  return folderOf(installDir) / kKeptDirectoryName / relative;
}

const char* stageName(ProbationRecord::Stage stage) {
  switch (stage) {
    case ProbationRecord::Stage::Applying: return "applying";
    case ProbationRecord::Stage::Probation: return "probation";
    case ProbationRecord::Stage::RollingBack: return "rolling_back";
  }
  return "";
}

// A whole number of a record field; false for anything else.
bool readNumber(const std::string& text, long long& number) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  number = std::stoll(text);
  return true;
}

bool itemExists(const fs::path& path) {
  platform::ItemKind kind = platform::ItemKind::Missing;
  return platform::queryItemKind(path, false, kind) || kind != platform::ItemKind::Missing;
}

// Renames `from` onto the free place `to`, retrying a busy item.
std::error_code moveWithRetries(const fs::path& from, const fs::path& to) {
  std::error_code error = platform::createDirectories(to.parent_path());
  for (int attempt = 0; !error && attempt < kMoveAttempts; ++attempt) {
    error = platform::moveReplacing(from, to);
    if (!error) return error;
    pauseOnMonotonicClock(std::chrono::milliseconds(100));
  }
  return error;
}

// A path of the journal: relative, without a root and without "." or "..", so that undoing can
// touch nothing outside the installation. Read on the text, which is cheaper than a path's parts.
bool isJournalPath(const std::string& text) {
  if (text.empty() || text.find(':') != std::string::npos) return false;  // a Windows root or stream
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find_first_of("/\\", start);
    const std::string_view element(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
    if (element.empty() || element == "." || element == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string printable(const fs::path& relative) { return platform::pathToUtf8(relative); }

enum class PutBack { Restored, NothingKept, Failed };

// Which items are kept, one listing per folder instead of one look per item. A folder that
// cannot be listed is asked item by item; nothing is taken through a folder that is a link.
class KeptItems {
 public:
  explicit KeptItems(const fs::path& installDir) : keptRoot_(folderOf(installDir) / kKeptDirectoryName) {}
  const fs::path& root() const { return keptRoot_; }
  bool has(const fs::path& relative) {
    const fs::path folder = relative.parent_path();
    if (!listed_ || folder != folder_) list(folder, relative);
    if (linked_) return false;
    if (!listing_) return itemExists(keptRoot_ / relative);
    return names_.count(relative.filename().native()) != 0;
  }

 private:
  void list(const fs::path& folder, const fs::path& relative) {
    names_.clear();
    folder_ = folder;
    listed_ = true;
    fs::path linkedParent;
    bool rootRedirects = false;
    linked_ = platform::isRedirection(keptRoot_, rootRedirects) || rootRedirects ||
              findLinkedParent(keptRoot_, relative, linkedParent) || !linkedParent.empty();
    // Names only: the kind of each item is not needed, and looking it up costs a call each.
    std::error_code error;
    for (fs::directory_iterator item(keptRoot_ / folder, error), end; !error && item != end; item.increment(error)) {
      names_.insert(item->path().filename().native());
    }
    listing_ = !error || platform::isNotFoundError(error);
  }

  fs::path keptRoot_;
  fs::path folder_;
  bool listed_ = false;
  bool listing_ = false;
  bool linked_ = false;
  std::unordered_set<fs::path::string_type> names_;
};

// Whether anything but folders is left below kept/: such a folder is never dropped.
bool keptFilesRemain(const fs::path& folder) {
  std::vector<platform::DirectoryItem> items;
  if (std::error_code error = platform::listDirectory(folder, items)) return !platform::isNotFoundError(error);
  return std::any_of(items.begin(), items.end(), [](const platform::DirectoryItem& item) {
    return item.kind != platform::ItemKind::Directory || keptFilesRemain(item.path);
  });
}

// Whether nothing is written through a folder of the installation that is a link. The folders
// checked last are remembered: a journal lists the items of one folder together.
class ParentCheck {
 public:
  explicit ParentCheck(const fs::path& installDir) : installDir_(installDir) {}
  std::error_code check(const fs::path& relative) {
    const fs::path parent = relative.parent_path();
    if (checked_ && parent == lastSafe_) return {};
    fs::path linkedParent;
    std::error_code error = findLinkedParent(installDir_, relative, linkedParent);
    if (!error && !linkedParent.empty()) error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    checked_ = !error;
    lastSafe_ = parent;
    return error;
  }
  // A folder put back may stand where a link stood.
  void forget() { checked_ = false; }

 private:
  const fs::path& installDir_;
  fs::path lastSafe_;
  bool checked_ = false;
};

// Puts one kept item back where it stood: what the update put there goes first (a removal and
// a rename cost less than a rename over a file), a whole folder only when a plain removal fails.
PutBack putBackItem(const fs::path& installDir, const fs::path& relative, ParentCheck& parents, KeptItems& kept) {
  const fs::path keptItem = kept.root() / relative;
  const fs::path target = installDir / relative;
  std::error_code error = parents.check(relative);
  if (!error && !kept.has(relative)) return PutBack::NothingKept;  // never moved aside, or already back
  if (!error && !platform::removeItem(target) && !platform::moveReplacing(keptItem, target)) return PutBack::Restored;
  parents.forget();
  if (!error) error = platform::removeTree(target);
  if (!error) error = moveWithRetries(keptItem, target);
  if (!error) return PutBack::Restored;
  logError("回滚时无法恢复文件：" + printable(relative) + "；原因：" + formatFsError(error));
  return PutBack::Failed;
}

bool removeAddedItem(const fs::path& installDir, const fs::path& relative, ParentCheck& parents) {
  if (parents.check(relative)) return true;
  if (const std::error_code error = platform::removeTree(installDir / relative)) {
    logError("回滚时无法删除新增的文件：" + printable(relative) + "；原因：" + formatFsError(error));
    return false;
  }
  return true;
}

// The launcher only ever makes a real folder; one that is a link (or junction) is never read
// or written through.
bool folderIsLink(const fs::path& installDir) {
  bool redirects = false;
  return !platform::isRedirection(folderOf(installDir), redirects) && redirects;
}

// The state goes first: a folder without one is only left to remove, whatever a kill leaves
// of the rest, and is never taken for kept files.
std::error_code dropFolder(const fs::path& installDir) {
  // A link planted in the folder's place goes alone: nothing is removed where it points.
  if (folderIsLink(installDir)) return platform::removeItem(folderOf(installDir));
  std::error_code error = platform::removeItem(folderOf(installDir) / kStateFileName);
  if (!error) error = platform::removeTree(folderOf(installDir));
  return error;
}

void rememberRefused(const fs::path& installDir, const std::string& release) {
  if (isRefusedRelease(installDir, release)) return;
  std::vector<std::vector<std::string>> lines = readRecordLines(installDir / kRefusedReleasesFileName);
  lines.push_back({release});
  if (lines.size() > kRefusedReleasesKept) lines.erase(lines.begin(), lines.end() - kRefusedReleasesKept);
  if (std::string error; !writeRecordLines(installDir / kRefusedReleasesFileName, lines, error)) {
    logWarn("无法记录已回滚的版本：" + error);
  }
}

}  // namespace

bool readProbation(const fs::path& installDir, ProbationRecord& record) {
  if (folderIsLink(installDir)) return false;
  ProbationRecord read;
  bool haveStage = false;
  for (const std::vector<std::string>& fields : readRecordLines(folderOf(installDir) / kStateFileName)) {
    if (fields.size() != 2) continue;
    const std::string& key = fields[0];
    const std::string& value = fields[1];
    long long number = 0;
    const auto count = [&number](int most) { return static_cast<int>(std::clamp<long long>(number, 1, most)); };
    if (key == "stage") {
      for (auto stage : {ProbationRecord::Stage::Applying, ProbationRecord::Stage::Probation,
                         ProbationRecord::Stage::RollingBack}) {
        if (value == stageName(stage)) read.stage = stage, haveStage = true;
      }
    } else if (key == "release") {
      read.settings.release = value;
    } else if (readNumber(value, number)) {
      if (key == "since") read.since = number;
      if (key == "starts") read.starts = static_cast<int>(std::min(number, 1000LL));
      if (key == "failures") read.failures = static_cast<int>(std::min(number, 1000LL));
      if (key == "last_exit_code") read.lastExitCode = static_cast<std::uint32_t>(number);
      if (key == "window_seconds") read.settings.windowSeconds = count(kMaxWatchSeconds);
      if (key == "probation_starts") read.settings.probationStarts = count(kMaxProbationStarts);
      if (key == "failed_starts") read.settings.failedStarts = count(kMaxProbationStarts);
    }
  }
  if (!haveStage || !isReleaseIdText(read.settings.release)) return false;
  read.settings.present = true;
  record = read;
  return true;
}

bool writeProbation(const fs::path& installDir, const ProbationRecord& record, std::string& errorText) {
  const AutoRollback& settings = record.settings;
  return writeRecordLines(folderOf(installDir) / kStateFileName,
                          {{"stage", stageName(record.stage)},
                           {"release", settings.release},
                           {"since", std::to_string(record.since)},
                           {"starts", std::to_string(record.starts)},
                           {"failures", std::to_string(record.failures)},
                           {"last_exit_code", std::to_string(record.lastExitCode)},
                           {"window_seconds", std::to_string(settings.windowSeconds)},
                           {"probation_starts", std::to_string(settings.probationStarts)},
                           {"failed_starts", std::to_string(settings.failedStarts)}},
                          errorText);
}

bool RollbackJournal::begin(const fs::path& installDir, const AutoRollback& settings, std::string& errorText) {
  installDir_ = installDir;
  record_ = ProbationRecord();
  record_.settings = settings;
  const fs::path folder = folderOf(installDir);
  std::error_code error = dropFolder(installDir);
  if (!error) error = platform::createDirectories(folder / kKeptDirectoryName);
  if (!error) error = journal_.open(folder / kJournalFileName, platform::FileWriter::Mode::Truncate);
  if (error) {
    errorText = platform::pathToUtf8(folder) + "（" + formatFsError(error) + "）";
    return false;
  }
  return writeProbation(installDir, record_, errorText);
}

bool RollbackJournal::append(const char* kind, const fs::path& relative) {
  const std::string text = printable(relative);
  if (!isRecordField(text)) return false;
  const std::string line = std::string(kind) + "\t" + text + "\n";
  return !journal_.write(line.data(), line.size());
}

bool RollbackJournal::keep(const fs::path& relative) {
  const fs::path target = installDir_ / relative;
  if (!itemExists(target)) {
    // The folders its write creates go with it, outermost first.
    std::vector<fs::path> created;
    for (fs::path parent = relative.parent_path(); !parent.empty() && !itemExists(installDir_ / parent);
         parent = parent.parent_path()) {
      created.push_back(parent);
    }
    for (auto folder = created.rbegin(); folder != created.rend(); ++folder) {
      if (!append("folder", *folder)) return false;
    }
    if (!append("added", relative)) {
      logError("无法记录更新新增的文件，不落地：" + printable(relative));
      return false;
    }
    ++addedItems_;
    return true;
  }
  // The bytes of a kept file; a kept folder (a link now stands in its place) counts as an item.
  platform::ItemKind kind = platform::ItemKind::Missing;
  std::uint64_t size = 0;
  const bool sized = !platform::queryItemKind(target, false, kind) && kind == platform::ItemKind::Regular &&
                     !platform::fileSize(target, size);
  if (!append("kept", relative)) {
    logError("无法记录被替换的文件，不落地：" + printable(relative));
    return false;
  }
  if (const std::error_code error = moveWithRetries(target, keptPath(installDir_, relative))) {
    logError("无法保留被替换的文件，不落地：" + printable(relative) + "；原因：" + formatFsError(error));
    return false;
  }
  ++keptItems_;
  if (sized) keptBytes_ += size;
  return true;
}

void RollbackJournal::putBack(const fs::path& relative) {
  ParentCheck parents(installDir_);
  KeptItems kept(installDir_);
  putBackItem(installDir_, relative, parents, kept);
}

bool RollbackJournal::startProbation() {
  std::error_code error = journal_.close();
  std::string errorText;
  record_.stage = ProbationRecord::Stage::Probation;
  record_.since = platform::fileTimeToUnixSeconds(platform::currentFileTime());
  if (!error && writeProbation(installDir_, record_, errorText)) return true;
  logError("无法记录试用期：" + (error ? formatFsError(error) : errorText));
  return false;
}

bool rollBackRelease(const fs::path& installDir, ProbationRecord& record, bool refuse) {
  if (refuse && record.stage != ProbationRecord::Stage::RollingBack) {
    record.stage = ProbationRecord::Stage::RollingBack;
    if (std::string errorText; !writeProbation(installDir, record, errorText)) {
      logError("无法记录回滚：" + errorText);
      return false;
    }
  }
  // Refused from here on: should the rollback not finish, no check installs the release again
  // while the next run finishes it.
  if (refuse) rememberRefused(installDir, record.settings.release);
  std::vector<std::vector<std::string>> lines = readRecordLines(folderOf(installDir) / kJournalFileName);
  std::size_t restored = 0;
  std::size_t removed = 0;
  bool whole = true;
  ParentCheck parents(installDir);
  KeptItems kept(installDir);
  LauncherOwnPathTest launcherOwn;  // never kept nor added by an update: a damaged line
  // Newest first: a folder replaced by a link comes back before the files added inside it go.
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->size() != 2) continue;
    if (!isJournalPath((*line)[1]) || launcherOwn((*line)[1])) continue;
    const fs::path relative = platform::pathFromUtf8((*line)[1]);
    const std::string& kind = (*line)[0];
    if (kind == "kept") {
      const PutBack back = putBackItem(installDir, relative, parents, kept);
      whole = whole && back != PutBack::Failed;
      restored += back == PutBack::Restored ? 1 : 0;
    } else if (kind == "added") {
      const bool gone = removeAddedItem(installDir, relative, parents);
      whole = whole && gone;
      removed += gone ? 1 : 0;
    } else if (kind == "folder") {
      platform::removeItem(installDir / relative);  // only when empty: the user's files stay
      parents.forget();
    }
  }
  // A kept file that the journal did not lead back (a journal that could not be read) stays.
  if (!whole || keptFilesRemain(kept.root())) {
    logError("回滚未完成：版本 " + record.settings.release + "，下次运行继续");
    return false;
  }
  platform::removeItem(installDir / kDigestRecordFileName);
  dropFolder(installDir);
  const std::string counts =
      "（恢复 " + std::to_string(restored) + " 项，删除新增 " + std::to_string(removed) + " 项）";
  if (refuse) {
    logInfo("回滚完成：版本 " + record.settings.release + " 已撤回" + counts + "，本机不再安装该版本");
  } else {
    logInfo("已撤销未完成的更新：版本 " + record.settings.release + counts);
  }
  return true;
}

bool endProbation(const fs::path& installDir) {
  const std::error_code error = dropFolder(installDir);
  if (!error) return true;
  logWarn("删除保留的文件失败：" + platform::pathToUtf8(folderOf(installDir)) + "；原因：" + formatFsError(error));
  return false;
}

bool hasLeftoverFolder(const fs::path& installDir) { return itemExists(folderOf(installDir)); }

bool isRefusedRelease(const fs::path& installDir, const std::string& release) {
  const std::vector<std::vector<std::string>> lines = readRecordLines(installDir / kRefusedReleasesFileName);
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::vector<std::string>& fields) { return fields.size() == 1 && fields[0] == release; });
}
