#include "update/manifest_reader.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "update/manifest_fields.h"
#include "update/manifest_hash_field.h"
#include "update/manifest_object_fields.h"

namespace {

// The keys of an entry that the check reads; the values of any others are skipped unbuilt.
bool isEntryKey(const std::string& name) {
  static const char* const kKeys[] = {"path", "link", "size", "mtime", "sha256", "zst", "patches", "rollout",
                                      "candidate", "health"};
  return std::any_of(std::begin(kKeys), std::end(kKeys), [&](const char* key) { return name == key; });
}

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

bool ManifestReader::read(const std::string& body, std::vector<ManifestEntry>& entries,
                          std::vector<std::string>& warnings, std::string& errorText) {
  entries_ = &entries;
  warnings_ = &warnings;
  if (!nlohmann::json::sax_parse(body, this, nlohmann::json::input_format_t::json, true, false)) {
    warnings.clear();
    errorText = "更新清单解析失败：" + parseError_;
    return false;
  }
  if (!rootIsArray_) {
    warnings.clear();
    errorText = "更新清单格式无效（非 JSON 数组）";
    return false;
  }
  if (entryError_.empty() && !rollout_.entries.empty() && !rollout_.present) {
    entryError_ = "更新清单中的灰度发布无效：有候选文件而没有 rollout";
  }
  if (entryError_.empty()) return true;
  errorText = entryError_;
  return false;
}

bool ManifestReader::key(Json::string_t& name) {
  if (skipped_ != 0) return true;
  if (open_.size() == 1) {
    // A repeated key replaces the earlier value, as in a tree of the document.
    if (isEntryKey(name)) {
      slot_ = &element_[name];
    } else {
      skipNextValue_ = true;
    }
  } else if (!open_.empty()) {
    slot_ = &(*open_.back())[name];
  }
  return true;
}

bool ManifestReader::value(Json&& v) {
  if (skipped_ != 0) return true;
  if (skipNextValue_) {
    skipNextValue_ = false;
    return true;
  }
  // The root's own value and the elements that are not objects are passed over.
  if (open_.empty()) return true;
  if (open_.back()->is_array()) {
    open_.back()->push_back(std::move(v));
  } else {
    *slot_ = std::move(v);
  }
  return true;
}

bool ManifestReader::startContainer(Json&& container) {
  if (skipped_ != 0 || skipNextValue_) {
    skipNextValue_ = false;
    ++skipped_;
    return true;
  }
  if (!rootStarted_) {
    rootStarted_ = true;
    rootIsArray_ = container.is_array();
    if (!rootIsArray_) skipped_ = 1;
    return true;
  }
  if (open_.empty()) {
    // An element of the root array: only an object is an entry, and none after a failure.
    if (!container.is_object() || !entryError_.empty()) {
      skipped_ = 1;
      return true;
    }
    element_ = std::move(container);
    open_.push_back(&element_);
    return true;
  }
  Json& parent = *open_.back();
  if (parent.is_array()) {
    parent.push_back(std::move(container));
    open_.push_back(&parent.back());
  } else {
    *slot_ = std::move(container);
    open_.push_back(slot_);
  }
  return true;
}

bool ManifestReader::endContainer() {
  if (skipped_ != 0) {
    --skipped_;
    return true;
  }
  if (open_.empty()) return true;  // the root array
  open_.pop_back();
  if (open_.empty()) finishEntry();
  return true;
}

void ManifestReader::finishEntry() {
  // Anything thrown while reading (a key of the wrong type) fails the check with its text.
  try {
    ManifestEntry entry;
    // A candidate's element is read as an entry of the candidate and of nothing else.
    if (const auto candidate = element_.find("candidate"); candidate != element_.end() && candidate->is_object()) {
      if (!readEntry(*candidate, signedManifest_, entry, *warnings_, entryError_)) return;
      if (!entry.path.empty()) rollout_.entries.push_back(std::move(entry));
      return;
    }
    // A malformed request for health reports only costs the reports.
    if (const auto health = element_.find("health"); health != element_.end()) {
      if (health->is_object() && health->contains("release") && health->at("release").is_string() &&
          isReleaseIdText(health->at("release").get<std::string>())) {
        healthRelease_ = health->at("release").get<std::string>();
      }
      return;
    }
    if (const auto settings = element_.find("rollout"); settings != element_.end()) {
      std::string reason;
      if (rollout_.present) reason = "rollout 出现两次";
      if (reason.empty() && readRolloutSettings(*settings, rollout_, reason)) return;
      entryError_ = "更新清单中的灰度发布无效：" + reason;
      return;
    }
    if (!readEntry(element_, signedManifest_, entry, *warnings_, entryError_)) return;
    if (!entry.path.empty()) entries_->push_back(std::move(entry));
  } catch (const std::exception& error) {
    entryError_ = std::string("更新清单解析失败：") + error.what();
  }
}

bool ManifestReader::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
  parseError_ = error.what();
  return false;
}
