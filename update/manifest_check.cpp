// The update check: fetch the server's manifest, decide for each listed file whether it is to
// be downloaded, and leave the pending list and the report update.log behind.
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "log/launcher_log.h"
#include "names/windows_names.h"
#include "platform/environment.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/accepted_serial.h"
#include "update/launcher_files.h"
#include "update/manifest_paths.h"
#include "update/manifest_reader.h"
#include "update/name_pattern.h"
#include "update/rollout_cohort.h"
#include "update/rollout_offer.h"
#include "update/server_endpoints.h"
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

// The report of the latest successful check. It is informational only: a file that cannot be
// opened or written costs the report, never the check.
// Written as its heading and its lines, so that the lines of a large check are not copied.
void writeUpdateLog(const std::filesystem::path& installDir, const std::string& heading, const std::string& lines) {
  platform::FileWriter file;
  if (file.open(installDir / kUpdateReportFileName, platform::FileWriter::Mode::Truncate)) return;
  if (file.write(heading.data(), heading.size()) || file.write(lines.data(), lines.size())) return;
  file.close();
}

// Whether the installed item of a manifest path exists and a locked pattern protects it.
bool isLockedInstalledFile(const std::filesystem::path& installDir, const std::string& manifestPath,
                           const std::string& name, const std::vector<std::string>& lockedPatterns) {
  const bool namedLocked = matchesAnyNamePattern(name, lockedPatterns);
  // Only a name with '~' can be a short alias (VCRUNT~1.DLL) of another name.
  if (!namedLocked && name.find('~') == std::string::npos) return false;
  const std::filesystem::path local = installDir / platform::pathFromUtf8(manifestPath);
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (platform::queryItemKind(local, true, kind) || kind == platform::ItemKind::Missing) return false;
  return namedLocked || matchesAnyNamePattern(platform::storedFileName(local), lockedPatterns);
}

// Where links cannot be made (on Windows, without the right to create them) a release with
// links can never be applied: found out here, before the main program is stopped for it.
bool canCreateLinks(const std::filesystem::path& stagingDir, const std::vector<ManifestEntry>& pending,
                    std::string& errorText) {
  const auto link = std::find_if(pending.begin(), pending.end(), [](const ManifestEntry& entry) {
    return !entry.link.empty();
  });
  if (link == pending.end()) return true;
  // A fresh staging directory, so that the probe cannot land wherever a leftover link points.
  const std::filesystem::path probe = stagingDir / "link-probe";
  std::error_code error = platform::removeTree(stagingDir);
  if (!error) error = platform::createDirectories(stagingDir);
  if (!error) error = platform::createFileSymlink(platform::fromUtf8("link-probe-target"), probe);
  platform::removeItem(probe);
  if (!error) return true;
  errorText = "无法创建软链接：" + names::printableName(link->path) + "（" + platform::errorCodeText(error) + "）";
  return false;
}

// The manifest's entries, refusing a malformed body or an entry that no file could satisfy.
bool readManifest(UpdateChecker& checker, const std::string& body, std::vector<ManifestEntry>& entries,
                  RolloutOffer& rollout, std::string& errorText) {
  if (body.empty()) {
    errorText = std::string("更新清单解析失败：") + kEmptyInputMessage;
    return false;
  }
  std::vector<std::string> warnings;
  ManifestReader reader(!checker.manifestPublicKey.empty());
  const bool read = reader.read(body, entries, warnings, errorText);
  for (const std::string& warning : warnings) logWarn(warning);
  rollout = std::move(reader.rollout());
  if (read) checker.healthRelease = reader.healthRelease();
  return read;
}

// Takes the candidate's files instead of the current release's when this installation is in
// its cohort. An installation that cannot keep its identifier stays on the current release:
// a new identifier at every start would move it in and out of cohorts.
void chooseRelease(UpdateChecker& checker, RolloutOffer& rollout, std::vector<ManifestEntry>& entries) {
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
  entries = std::move(rollout.entries);
  checker.candidateRelease = rollout.release;
  if (!checker.healthRelease.empty()) checker.healthRelease = rollout.release;
}

// Judges the entries, compares them with the installation and rewrites update.log. The
// entries to fetch end up in checker.pending, in the manifest's order: the list of all
// entries becomes the pending list, so that no entry is held twice.
bool checkEntries(UpdateChecker& checker, std::vector<ManifestEntry>&& entries, std::string& errorText) {
  // Every entry is judged on its text before any local file is looked at: a path that
  // names another host would otherwise be looked up there.
  if (!judgeManifestEntries(entries, errorText, checker.lockedPatterns)) return false;

  CheckCounts counts;
  counts.manifestEntries = static_cast<std::int32_t>(entries.size());
  std::size_t pendingCount = 0;
  std::string report;
  for (ManifestEntry& entry : entries) {
    const std::string name = baseNameOf(entry.path);
    // The launcher's own files are never taken from a release: a link there would carry
    // the launcher's writes out of the installation.
    if (isLauncherOwnPath(entry.path) || matchesAnyNamePattern(name, checker.forbiddenPatterns)) {
      ++counts.forbidden;
      report += "  [排除-禁止下载] " + entry.path + "\n";
      continue;
    }

    std::string reason;
    const bool needsUpdate = checker.entryNeedsUpdate(entry, &reason);
    // A locked file is only protected while it exists; a missing one is installed as usual.
    if (isLockedInstalledFile(checker.installDir, entry.path, name, checker.lockedPatterns)) {
      ++counts.locked;
      if (needsUpdate) report.append("  [跳过-自更新锁定] ").append(entry.path).append("  ").append(reason) += '\n';
      continue;
    }

    if (needsUpdate) {
      report.append("  [待更新] ").append(entry.path).append("  ").append(reason) += '\n';
      // Moved towards the front, never past an entry still to be read.
      if (&entries[pendingCount] != &entry) entries[pendingCount] = std::move(entry);
      ++pendingCount;
    }
  }
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(pendingCount), entries.end());
  checker.pending = std::move(entries);

  const std::string heading =
      "[" + localTimeNow() + "] 更新检测：清单 " + std::to_string(counts.manifestEntries) + " 项，待更新 " +
      std::to_string(checker.pending.size()) + " 项，禁止下载 " + std::to_string(counts.forbidden) +
      " 项，跳过锁定文件 " + std::to_string(counts.locked) + " 项\n" + "服务器: " + checker.baseUrl +
      "  平台: " + checker.platform + "\n";
  writeUpdateLog(checker.installDir, heading, report.empty() ? std::string("（无差异，本次不更新）\n") : report);
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

}  // namespace

bool UpdateChecker::checkForUpdates(std::string& errorText) {
  pending.clear();
  healthRelease.clear();
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
  std::vector<ManifestEntry> entries;
  RolloutOffer rollout;
  if (!catchingFailures([&] { return readManifest(*this, body, entries, rollout, errorText); }, errorText)) {
    return false;
  }
  // The entries hold all that the check needs: the body's memory is given back before the
  // installation is compared.
  std::string().swap(body);
  chooseRelease(*this, rollout, entries);
  if (!catchingFailures([&] { return checkEntries(*this, std::move(entries), errorText); }, errorText)) return false;
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
  std::vector<ManifestEntry> entries;
  RolloutOffer rollout;
  if (!catchingFailures([&] { return readManifest(*this, body, entries, rollout, errorText); }, errorText)) {
    return false;
  }
  chooseRelease(*this, rollout, entries);
  return catchingFailures([&] { return checkEntries(*this, std::move(entries), errorText); }, errorText);
}
