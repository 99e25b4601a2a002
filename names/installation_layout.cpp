#include "names/installation_layout.h"

#include <algorithm>

#include "names/windows_names.h"

// Chosen by the build for the platform it builds for.
const char* const kLauncherFileName = KESTRUN_LAUNCHER_FILE_NAME;

std::vector<std::string> launcherOwnFileNames() {
  const std::string serial = kAcceptedSerialFileName;
  const std::string id = kInstallationIdFileName;
  const std::string digests = kDigestRecordFileName;
  const std::string installed = kInstalledPathsRecordFileName;
  const std::string resume = kResumeRecordFileName;
  const std::string refused = kRefusedReleasesFileName;
  return {kUpdateReportFileName, kInstallationLockFileName, kProgramRestartLockFileName, kStagingDirectoryName,
          serial, serial + kFreshRecordSuffix, id, id + kFreshRecordSuffix, digests, digests + kFreshRecordSuffix,
          installed, installed + kFreshRecordSuffix, resume, resume + kFreshRecordSuffix, kRollbackDirectoryName,
          refused, refused + kFreshRecordSuffix};
}

std::vector<std::string> launcherOwnTopNames() {
  std::vector<std::string> names = launcherOwnFileNames();
  names.emplace_back(kLogDirectoryName);
  return names;
}

std::vector<std::string> lockedProductPatterns() {
  return {"Kestrun.exe", "vcruntime140*", "msvcp140*", "concrt140*", "ucrtbase*", "api-ms-win-*"};
}

std::vector<std::string> lockedFilePatterns() {
  std::vector<std::string> patterns = lockedProductPatterns();
  // The product's names stay locked everywhere: an installation carries Kestrun.exe on every
  // platform, and a differing copy must not replace it where another launcher runs.
  if (patterns.front() != kLauncherFileName) patterns.insert(patterns.begin(), kLauncherFileName);
  return patterns;
}

bool isLauncherOwnPath(std::string_view path) { return LauncherOwnPathTest()(path); }

namespace {

bool startsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// One name as Windows compares it (names/windows_names.h), without a closing '/'.
std::string comparedName(std::string_view name) {
  std::string key;
  names::appendComparedName(key, name);
  return key;
}

}  // namespace

bool LauncherOwnPathTest::operator()(std::string_view path) {
  // The check asks this of every entry: the keys of the launcher's names are formed once.
  static const std::vector<std::string> kOwnKeys = [] {
    std::vector<std::string> keys;
    for (const std::string& own : launcherOwnFileNames()) keys.push_back(names::comparedPathKey(own));
    return keys;
  }();
  static const std::string kLogsKey = names::comparedPathKey(kLogDirectoryName);
  const std::string_view topElement = path.substr(0, path.find('/'));
  if (!hasTop_ || topElement != lastTop_) {
    const std::string key = names::comparedPathKey(topElement);
    lastTop_.assign(topElement);
    hasTop_ = true;
    lastTopKind_ = std::find(kOwnKeys.begin(), kOwnKeys.end(), key) != kOwnKeys.end() ? TopKind::Own
                   : key == kLogsKey                                                ? TopKind::Logs
                                                                                    : TopKind::Other;
  }
  if (lastTopKind_ != TopKind::Logs) return lastTopKind_ == TopKind::Own;
  // The logs directory itself and the launcher's daily files in it; the main program may
  // keep files of its own there.
  std::string below = names::comparedPathKey(path).substr(kLogsKey.size());
  if (below.empty()) return true;
  below.pop_back();  // the key's closing '/'
  static const std::string kPrefix = comparedName(kDailyLogPrefix);
  static const std::string kExtension = comparedName(kDailyLogExtension);
  return below.find('/') == std::string::npos && startsWith(below, kPrefix) && below.size() > kExtension.size() &&
         endsWith(below, kExtension);
}
