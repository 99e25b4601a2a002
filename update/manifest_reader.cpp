#include "update/manifest_reader.h"

#include <algorithm>
#include <utility>

#include "update/manifest_fields.h"

namespace {

// The keys of an entry that the check reads; the values of any others are skipped unbuilt.
bool isEntryKey(const std::string& name) {
  static const char* const kKeys[] = {"path", "link", "size", "mtime", "sha256", "zst", "patches", "rollout",
                                      "candidate", "health", "auto_rollback"};
  return std::any_of(std::begin(kKeys), std::end(kKeys), [&](const char* key) { return name == key; });
}

}  // namespace

bool ManifestReader::read(const std::string& body, std::vector<ManifestEntry>& entries,
                          std::vector<std::string>& warnings, std::string& errorText) {
  elements_.emplace(signedManifest_, entries, warnings);
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
  return elements_->finish(errorText);
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
  // Deeper values are refused before anything is built of them, so memory stays linear in
  // the body whatever it nests.
  if (++depth_ > kMaxManifestDepth) {
    parseError_ = kManifestTooDeepText;
    return false;
  }
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
    if (!container.is_object() || elements_->failed()) {
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
  --depth_;
  if (skipped_ != 0) {
    --skipped_;
    return true;
  }
  if (open_.empty()) return true;  // the root array
  open_.pop_back();
  if (open_.empty()) elements_->read(element_);
  return true;
}

bool ManifestReader::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
  parseError_ = error.what();
  return false;
}
