#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

// The signer's own record of what it signed last, for each site and platform: KEY.last-signed
// beside the key file, so on the signing machine and never on the web host. `--resign` signs
// only the manifest that this record names; someone who can write the site but has no key
// cannot make the daily timer give an old release a new serial by pointing `current` at it.
//
// One line per site and platform: "<serial> <manifest sha256> <platform> <site>\n", the site
// as an absolute path with its links resolved.
namespace publish {

namespace fs = std::filesystem;

struct SignedManifest {
  std::uint64_t serial = 0;
  std::string manifestSha256;
};

// (site, platform) -> what was signed there last.
using SigningRecord = std::map<std::pair<std::string, std::string>, SignedManifest>;

// The record beside a key file.
fs::path signingRecordFile(const fs::path& keyFile);

// The key under which a site is recorded.
std::string recordedSiteName(const fs::path& site);

// An empty record when the file does not exist; false when it cannot be read or is damaged.
bool readSigningRecord(const fs::path& file, SigningRecord& record, std::string& error);

// Replaces the file through a flushed temporary file and a rename.
bool writeSigningRecord(const fs::path& file, const SigningRecord& record, std::string& error);

}  // namespace publish
