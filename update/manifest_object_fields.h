#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "update/manifest_entry.h"

// The optional "zst" and "patches" keys of a manifest object, read into `entry`. They only
// save bytes, so a malformed one never fails the check: it is left out with a WARN line (its
// text added to `warnings`, for the caller to log) and the entry is fetched the way it was before. Objects of an entry without a sha256 are left
// out the same way, because nothing could check what they decode to.
//   "zst": {"size": N, "sha256": H}
//   "patches": [{"from_sha256": H0, "size": N, "sha256": H}, ...]
void readObjectFields(const nlohmann::json& object, ManifestEntry& entry, std::vector<std::string>& warnings);
