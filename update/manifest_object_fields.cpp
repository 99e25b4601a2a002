#include "update/manifest_object_fields.h"

#include <nlohmann/json.hpp>

#include "names/ascii_case.h"
#include "names/windows_names.h"
#include "trust/sha256_hex.h"

namespace {

bool readDigest(const nlohmann::json& object, const char* key, std::string& digest) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string() || !isSha256Hex(found->get_ref<const std::string&>())) return false;
  digest = names::lowerAscii(found->get<std::string>());
  return true;
}

// One object description; false when any part of it is missing or of the wrong kind.
bool readObject(const nlohmann::json& item, bool patch, EntryObject& object) {
  if (!item.is_object()) return false;
  const auto size = item.find("size");
  if (size == item.end() || !size->is_number_integer() || size->get<std::int64_t>() <= 0) return false;
  object.size = size->get<std::int64_t>();
  return readDigest(item, "sha256", object.sha256) && (!patch || readDigest(item, "from_sha256", object.fromSha256));
}

}  // namespace

void readObjectFields(const nlohmann::json& object, ManifestEntry& entry, std::vector<std::string>& warnings) {
  const auto zst = object.find("zst");
  const auto patches = object.find("patches");
  if (zst == object.end() && patches == object.end()) return;
  if (entry.sha256.empty() || !entry.link.empty()) {
    warnings.push_back("更新清单中的压缩副本或补丁无从校验，已忽略：" + names::printableName(entry.path));
    return;
  }
  if (zst != object.end()) {
    EntryObject copy;
    if (readObject(*zst, false, copy)) {
      entry.zst.push_back(copy);
    } else {
      warnings.push_back("更新清单中的压缩副本无效，已忽略：" + names::printableName(entry.path));
    }
  }
  if (patches == object.end()) return;
  if (!patches->is_array()) {
    warnings.push_back("更新清单中的补丁无效，已忽略：" + names::printableName(entry.path));
    return;
  }
  for (const nlohmann::json& item : *patches) {
    EntryObject patch;
    if (readObject(item, true, patch)) {
      entry.patches.push_back(patch);
    } else {
      warnings.push_back("更新清单中的补丁无效，已忽略：" + names::printableName(entry.path));
    }
  }
}
