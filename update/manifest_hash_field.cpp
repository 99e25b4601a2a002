#include "update/manifest_hash_field.h"

#include <nlohmann/json.hpp>

#include "platform/text.h"
#include "trust/sha256_hex.h"

bool readSha256Field(const nlohmann::json& object, std::string& digest) {
  digest.clear();
  const auto found = object.find("sha256");
  if (found == object.end()) return true;
  if (!found->is_string() || !isSha256Hex(found->get_ref<const std::string&>())) return false;
  digest = platform::lowerAscii(found->get<std::string>());
  return true;
}
