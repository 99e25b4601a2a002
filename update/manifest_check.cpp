// The update check: fetch the server's manifest, decide for each listed file whether it is to
// be downloaded, and leave the pending list and the report update.log behind.
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "names/name_pattern.h"
#include "names/windows_names.h"
#include "platform/environment.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/accepted_serial.h"
#include "update/entry_comparison.h"
#include "update/manifest_fast_reader.h"
#include "update/manifest_paths.h"
#include "update/manifest_reader.h"
#include "update/rollout_cohort.h"
#include "update/rollout_offer.h"
#include "wire/server_endpoints.h"
#include "update/update_checker.h"

namespace {

// The JSON library's own message for an empty document since version 3.11.3. Older versions
// only say "unexpected end of input", so an empty body is reported with this text whatever
// version the launcher is built with.
constexpr const char* kEmptyInputMessage =
    "[json.exception.parse_error.101] parse error at line 1, column 1: attempting to parse an empty input; "
    "check that your input string or stream contains the expected JSON";

struct CheckCounts {
  std::int32_t manifestEntries = 0;
  std::int32_t forbidden = 0;
  std::int32_t locked = 0;
};

std::string localTimeNow() {
  const std::tm now = platform::localTime(std::time(nullptr));
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &now);
  return std::string(text, length);
}

// The report of the latest successful check, written as its lines are formed: the report
// of a large check is not held whole. It is informational only: a file that cannot be opened
// or written costs the report, never the check.
class ReportWriter {
 public:
  explicit ReportWriter(const std::filesystem::path& file)
      : failed_(static_cast<bool>(file_.open(file, platform::FileWriter::Mode::Truncate))) {}
  ~ReportWriter() {
    flush();
    if (!failed_) file_.close();
  }
  std::string& text() { return buffer_; }
  // Writes what has been formed once enough of it has gathered.
  void lineDone() {
    if (buffer_.size() >= kFlushBytes) flush();
  }

 private:
  static constexpr std::size_t kFlushBytes = 64 * 1024;
  void flush() {
    if (!failed_ && !buffer_.empty()) failed_ = static_cast<bool>(file_.write(buffer_.data(), buffer_.size()));
    buffer_.clear();
  }
  platform::FileWriter file_;
  bool failed_;
  std::string buffer_;
};

// Whether the installed item of a manifest path exists and a locked pattern protects it.
bool isLockedInstalledFile(const std::filesystem::path& installDir, std::string_view manifestPath,
                           std::string_view name, const std::vector<std::string>& lockedPatterns) {
  const bool namedLocked = names::matchesAnyNamePattern(name, lockedPatterns);
  // Only a name with '~' can be a short alias (VCRUNT~1.DLL) of another name.
  if (!namedLocked && name.find('~') == std::string_view::npos) return false;
  const std::filesystem::path local = installDir / platform::pathFromUtf8(std::string(manifestPath));
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (platform::queryItemKind(local, true, kind) || kind == platform::ItemKind::Missing) return false;
  return namedLocked || names::matchesAnyNamePattern(platform::storedFileName(local), lockedPatterns);
}

// Where links cannot be made (on Windows, without the right to create them) a release with
// links can never be applied: found out here, before the main program is stopped for it.
bool canCreateLinks(const std::filesystem::path& stagingDir, const ManifestEntryList& pending,
                    std::string& errorText) {
  std::size_t link = 0;
  while (link < pending.size() && !pending.isLink(link)) ++link;
  if (link == pending.size()) return true;
  // The staging directory keeps the parts of files that this run goes on with; only when it is
  // no real directory (a link, a junction, a file) is it removed, so that the probe cannot land
  // wherever it points.
  const std::filesystem::path probe = stagingDir / "link-probe";
  platform::ItemStatus status;
  bool redirects = false;
  std::error_code error = platform::queryItemStatus(stagingDir, false, status);
  if (!error) error = platform::isRedirection(stagingDir, redirects);
  const bool directory = status.kind == platform::ItemKind::Directory && !redirects;
  if (!error && !directory) error = platform::removeTree(stagingDir);
  if (!error) error = platform::createDirectories(stagingDir);
  if (!error) error = platform::removeTree(probe);  // left by a run that was stopped here
  if (!error) error = platform::createFileSymlink(platform::fromUtf8("link-probe-target"), probe);
  platform::removeItem(probe);
  if (!error) return true;
  errorText = "无法创建软链接：" + names::printableName(pending.path(link)) + "（" + platform::errorCodeText(error) + "）";
  return false;
}

// The manifest's entries, refusing a malformed body or an entry that no file could satisfy.
// The body becomes the entries' texts, or is given back once they are read. A manifest that
// offers a candidate release or asks for health reports is read by the JSON library.
bool readManifest(UpdateChecker& checker, std::string&& body, ManifestEntryList& entries, RolloutOffer& rollout,
                  std::string& errorText) {
  if (body.empty()) {
    errorText = std::string("更新清单解析失败：") + kEmptyInputMessage;
    return false;
  }
  const bool signedManifest = !checker.manifestPublicKey.empty();
  checker.healthRelease.clear();
  checker.autoRollback = AutoRollback();
  if (readManifestFast(body, signedManifest, entries)) return true;
  // Whatever the fast reading is not sure of, the JSON library reads, with its own texts.
  std::vector<ManifestEntry> read;
  std::vector<std::string> warnings;
  ManifestReader reader(signedManifest);
  const bool ok = reader.read(body, read, warnings, errorText);
  for (const std::string& warning : warnings) logWarn(warning);
  if (!ok) return false;
  rollout = std::move(reader.rollout());
  checker.healthRelease = reader.healthRelease();
  checker.autoRollback = reader.autoRollback();
  std::string().swap(body);
  entries = ManifestEntryList(read);
  return true;
}

// What the check decided for one entry, until the report is written.
struct Verdict {
  enum class Outcome : std::uint8_t { UpToDate, Forbidden, Locked, Pending };
  std::int64_t local = 0;  // the local size or time the report names
  Outcome outcome = Outcome::UpToDate;
  Difference difference = Difference::None;
};

void appendReportLine(std::string& text, const char* label, std::string_view path) {
  text.append(label).append(path);
}

// Takes the candidate's files instead of the current release's when this installation is in
// its cohort. An installation that cannot keep its identifier stays on the current release:
// a new identifier at every start would move it in and out of cohorts.
void chooseRelease(UpdateChecker& checker, RolloutOffer& rollout, ManifestEntryList& entries) {
  checker.candidateRelease.clear();
  if (!rollout.present) return;
  std::string identifier;
  std::string errorText;
  bool inCohort = false;
  if (rollout.share > 0) {
    if (installationIdentifier(checker.installDir, identifier, errorText)) {
      inCohort = inRolloutCohort(rollout.salt, identifier, rollout.share);
    } else {
      logWarn(errorText);
    }
  }
  logInfo("灰度发布：候选版本 " + rollout.release + "，比例 " + shareText(rollout.share) + "%，本机" +
          (inCohort ? "在" : "不在") + "候选范围内");
  if (!inCohort) return;
  entries = ManifestEntryList(rollout.entries);
  checker.candidateRelease = rollout.release;
  if (!checker.healthRelease.empty()) checker.healthRelease = rollout.release;
  if (checker.autoRollback.present) checker.autoRollback.release = rollout.release;
}

// What the check decided for every entry, until the report is written.
struct Verdicts {
  std::vector<Verdict> entries;
  std::vector<bool> pending;
  std::size_t pendingCount = 0;
  bool anyLine = false;  // the report lists at least one entry
  CheckCounts counts;
  // The installed targets of links that differ; links are few.
  std::vector<std::pair<std::size_t, std::string>> linkTargets;
};

// Compares every entry with the installation: forbidden, locked, up to date or pending.
Verdicts classifyEntries(const UpdateChecker& checker, const ManifestEntryList& entries) {
  const std::size_t count = entries.size();
  Verdicts found;
  found.counts.manifestEntries = static_cast<std::int32_t>(count);
  found.entries.resize(count);
  found.pending.assign(count, false);
  platform::NativeString localPath;
  std::string localTarget;
  LauncherOwnPathTest isLauncherOwn;
  for (std::size_t i = 0; i < count; ++i) {
    Verdict& verdict = found.entries[i];
    const std::string_view path = entries.path(i);
    const std::string_view name = names::baseNameOf(path);
    // The launcher's own files are never taken from a release: a link there would carry
    // the launcher's writes out of the installation.
    if (isLauncherOwn(path) || names::matchesAnyNamePattern(name, checker.forbiddenPatterns)) {
      ++found.counts.forbidden;
      verdict.outcome = Verdict::Outcome::Forbidden;
      found.anyLine = true;
      continue;
    }
    if (entries.isLink(i)) {
      verdict.difference = compareInstalledLink(checker.installDir, path, entries.link(i), localTarget);
      if (verdict.difference == Difference::LinkTarget) found.linkTargets.emplace_back(i, localTarget);
    } else {
      verdict.difference = compareInstalledFile(checker.installDir, path, entries.fileSize(i), entries.mtime(i),
                                                verdict.local, localPath);
    }
    const bool needsUpdate = verdict.difference != Difference::None;
    // A locked file is only protected while it exists; a missing one is installed as usual.
    if (isLockedInstalledFile(checker.installDir, path, name, checker.lockedPatterns)) {
      ++found.counts.locked;
      verdict.outcome = Verdict::Outcome::Locked;
      found.anyLine = found.anyLine || needsUpdate;
      continue;
    }
    if (needsUpdate) {
      verdict.outcome = Verdict::Outcome::Pending;
      found.pending[i] = true;
      ++found.pendingCount;
      found.anyLine = true;
    }
  }
  return found;
}

// Rewrites update.log: the counts, then a line for each entry that is not simply up to date.
void writeCheckReport(const UpdateChecker& checker, const ManifestEntryList& entries, const Verdicts& found) {
  ReportWriter report(checker.installDir / kUpdateReportFileName);
  std::string& text = report.text();
  text = "[" + localTimeNow() + "] 更新检测：清单 " + std::to_string(found.counts.manifestEntries) + " 项，待更新 " +
         std::to_string(found.pendingCount) + " 项，禁止下载 " + std::to_string(found.counts.forbidden) +
         " 项，跳过锁定文件 " + std::to_string(found.counts.locked) + " 项\n" + "服务器: " + checker.baseUrl +
         "  平台: " + checker.platform + "\n";
  if (!found.anyLine) text += "（无差异，本次不更新）\n";
  auto linkTarget = found.linkTargets.begin();
  for (std::size_t i = 0; i < found.entries.size() && found.anyLine; ++i) {
    const Verdict& verdict = found.entries[i];
    if (verdict.outcome == Verdict::Outcome::UpToDate) continue;
    if (verdict.outcome == Verdict::Outcome::Forbidden) {
      appendReportLine(text, "  [排除-禁止下载] ", entries.path(i));
    } else if (verdict.difference == Difference::None) {
      continue;  // a locked file that is up to date
    } else {
      appendReportLine(text, verdict.outcome == Verdict::Outcome::Locked ? "  [跳过-自更新锁定] " : "  [待更新] ",
                       entries.path(i));
      text += "  ";
      std::string_view installedTarget;
      while (linkTarget != found.linkTargets.end() && linkTarget->first < i) ++linkTarget;
      if (linkTarget != found.linkTargets.end() && linkTarget->first == i) installedTarget = linkTarget->second;
      appendDifferenceText(text, verdict.difference, verdict.local, entries.fileSize(i), entries.mtime(i),
                           installedTarget, entries.link(i));
    }
    text += '\n';
    report.lineDone();
  }
}

// Judges the entries, compares them with the installation and rewrites update.log. The
// entries to fetch end up in checker.pending, in the manifest's order: the list of all
// entries becomes the pending list, so that no entry is held twice.
bool checkEntries(UpdateChecker& checker, ManifestEntryList&& entries, std::string& errorText) {
  // Every entry is judged on its text before any local file is looked at: a path that
  // names another host would otherwise be looked up there.
  if (!judgeManifestEntries(entries, errorText, checker.lockedPatterns)) return false;
  std::vector<bool> pending;
  {
    Verdicts found = classifyEntries(checker, entries);
    writeCheckReport(checker, entries, found);
    pending = std::move(found.pending);
  }
  entries.keepFlagged(pending);
  checker.pending = std::move(entries);
  return true;
}

// The one place where exceptions become a result: the JSON library reports malformed input
// and wrongly typed keys by throwing, and anything else thrown on the way means the same.
template <typename Step>
bool catchingFailures(Step&& step, std::string& errorText) {
  try {
    return step();
  } catch (const std::exception& error) {
    errorText = std::string("更新清单解析失败：") + error.what();
    return false;
  }
}

// Reads the body, takes the candidate's files when this installation is in its cohort, and
// checks the entries.
bool readChooseAndCheck(UpdateChecker& checker, std::string&& body, std::string& errorText) {
  ManifestEntryList entries;
  RolloutOffer rollout;
  if (!catchingFailures([&] { return readManifest(checker, std::move(body), entries, rollout, errorText); },
                        errorText)) {
    return false;
  }
  chooseRelease(checker, rollout, entries);
  return catchingFailures([&] { return checkEntries(checker, std::move(entries), errorText); }, errorText);
}

}  // namespace

bool UpdateChecker::checkForUpdates(std::string& errorText) {
  pending.clear();
  healthRelease.clear();
  autoRollback = AutoRollback();
  if (baseUrl.empty()) {
    errorText = "更新服务器未配置（企业版请检查 Kestrun.ini 的 [server] baseUrl）";
    return false;
  }

  std::string body;
  std::string transferError;
  if (!httpGetToString(baseUrl + kManifestEndpoint + "?platform=" + platform, body, transferError)) {
    errorText = "无法获取更新清单：" + transferError;
    return false;
  }
  // Without a built-in key nothing changes: no signature request, no serial file.
  std::uint64_t newSerial = 0;
  if (!manifestPublicKey.empty() && !checkManifestSignature(body, newSerial, errorText)) return false;
  // The entries keep the body as their texts, or read it and give it back.
  if (!readChooseAndCheck(*this, std::move(body), errorText)) return false;
  if (!canCreateLinks(stagingDir, pending, errorText)) {
    pending.clear();
    return false;
  }
  // An update killed after its apply step leaves its staging directory behind, and only a
  // run with something to fetch would empty it.
  if (pending.empty()) platform::removeTree(stagingDir);
  return newSerial == 0 || writeAcceptedSerial(installDir, newSerial, errorText);
}

bool UpdateChecker::checkManifestBody(const std::string& body, std::string& errorText) {
  pending.clear();
  return readChooseAndCheck(*this, std::string(body), errorText);
}
