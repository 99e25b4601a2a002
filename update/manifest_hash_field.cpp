#include "update/manifest_hash_field.h"

#include <nlohmann/json.hpp>

#include "names/ascii_case.h"
#include "trust/sha256_hex.h"

bool readSha256Field(const nlohmann::json& object, std::string& digest) {
  digest.clear();
  const auto found = object.find("sha256");
  if (found == object.end()) return true;
  if (!found->is_string() || !isSha256Hex(found->get_ref<const std::string&>())) return false;
  digest = names::lowerAscii(found->get<std::string>());
  return true;
}
