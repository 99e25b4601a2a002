#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

// The "sha256" key of a manifest object. Absent: true with an empty digest (the entry is
// checked by size and time only). A string of 64 hexadecimal characters in either case: true
// with the digest in lower case. Anything else: false, because a protection that a typo could
// switch off silently would protect nothing.
bool readSha256Field(const nlohmann::json& object, std::string& digest);
