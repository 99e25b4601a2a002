#include "update/manifest_elements.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "update/manifest_fields.h"
#include "update/manifest_hash_field.h"
#include "update/manifest_object_fields.h"

namespace {

// A text key of a manifest object with '/' separators; absent gives empty, any other type
// throws the library's type error, which fails the whole check. The entry's copy is taken.
std::string takePathField(nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return {};
  if (!found->is_string()) return found->get<std::string>();  // throws the library's type error
  std::string text = std::move(found->get_ref<std::string&>());
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

// One manifest object as an entry; false with errorText for an entry that no file could
// satisfy, true with an empty path for an object the check passes over.
bool readEntry(nlohmann::json& element, bool signedManifest, ManifestEntry& entry, std::vector<std::string>& warnings,
               std::string& errorText) {
  entry.path = takePathField(element, "path");
  entry.link = takePathField(element, "link");
  entry.size = readIntegerField(element, "size");
  entry.mtime = readIntegerField(element, "mtime");
  if (entry.path.empty()) return true;
  if (!readSha256Field(element, entry.sha256)) {
    errorText = "更新清单中的 sha256 无效：" + names::printableName(entry.path);
    return false;
  }
  // A time beyond what a file time can hold could never be set, so the file would be
  // fetched again at every start.
  if (entry.mtime > platform::kMaxUnixSecondsAsFileTime) {
    errorText = "更新清单中的修改时间无效：" + names::printableName(entry.path);
    return false;
  }
  readObjectFields(element, entry, warnings);
  if (signedManifest && entry.link.empty() && entry.sha256.empty()) {
    errorText = "已签名的更新清单缺少 sha256：" + names::printableName(entry.path);
    return false;
  }
  if (signedManifest && entry.link.empty() && entry.size < 0) {
    errorText = "更新清单中的文件大小无效：" + names::printableName(entry.path);
    return false;
  }
  return true;
}

}  // namespace

void ManifestElements::read(nlohmann::json& element) {
  if (failed()) return;
  // Anything thrown while reading (a key of the wrong type) fails the check with its text.
  try {
    ManifestEntry entry;
    if (!element.contains("path") && readOtherElement(element)) return;
    if (!readEntry(element, signedManifest_, entry, warnings_, errorText_)) return;
    if (!entry.path.empty()) entries_.push_back(std::move(entry));
  } catch (const std::exception& error) {
    errorText_ = std::string("更新清单解析失败：") + error.what();
  }
}

bool ManifestElements::readOtherElement(nlohmann::json& element) {
  // A candidate's element is read as an entry of the candidate and of nothing else.
  if (const auto candidate = element.find("candidate"); candidate != element.end() && candidate->is_object()) {
    ManifestEntry entry;
    if (readEntry(*candidate, signedManifest_, entry, warnings_, errorText_) && !entry.path.empty()) {
      rollout_.entries.push_back(std::move(entry));
    }
    return true;
  }
  // A malformed request for health reports only costs the reports.
  if (const auto health = element.find("health"); health != element.end()) {
    if (health->is_object() && health->contains("release") && health->at("release").is_string() &&
        isReleaseIdText(health->at("release").get<std::string>())) {
      healthRelease_ = health->at("release").get<std::string>();
    }
    return true;
  }
  // A malformed request for automatic rollback leaves updates as they are without it.
  if (const auto rollback = element.find("auto_rollback"); rollback != element.end()) {
    if (!readAutoRollback(*rollback, autoRollback_)) warnings_.push_back(kAutoRollbackInvalidText);
    return true;
  }
  const auto settings = element.find("rollout");
  if (settings == element.end()) return false;
  std::string reason;
  if (rollout_.present) reason = "rollout 出现两次";
  if (reason.empty() && readRolloutSettings(*settings, rollout_, reason)) return true;
  errorText_ = "更新清单中的灰度发布无效：" + reason;
  return true;
}

bool ManifestElements::finish(std::string& errorText) {
  if (!failed() && !rollout_.entries.empty() && !rollout_.present) {
    errorText_ = "更新清单中的灰度发布无效：有候选文件而没有 rollout";
  }
  if (!failed()) return true;
  errorText = errorText_;
  return false;
}
