#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/publish/site_layout.h"
#include "trust/manifest_signature.h"

// Signing a release: every regular file's SHA-256 goes into the manifest, and the manifest's
// signature goes beside it as <platform>.json.sig, inside the release, so that the one rename
// of `current` switches files, manifest and signature together.
namespace publish {

// Reads a key file written by kestrun-keygen.
bool readSigningKey(const fs::path& file, ManifestSecretKey& key, std::string& error);

// The serial of the next signature of `platform` in this site: one more than the highest
// serial among the kept releases (1 for the first). It keeps growing across rollbacks,
// because launchers refuse any serial below the one they have accepted.
bool nextSerial(const SiteLayout& layout, const std::string& platform, std::uint64_t& serial, std::string& error);

// Writes <platform>.json with a sha256 for every regular file of the release's platform tree,
// and <platform>.json.sig over its exact bytes with `serial`.
bool writeSignedManifest(const fs::path& release, const std::string& platform, const ManifestSecretKey& key,
                         std::uint64_t serial, std::string& error);

// Empty, or why launchers will refuse release `id` once it is current again: it is signed with
// a serial below the highest of the site, which they may have accepted already.
std::string rollbackWarning(const SiteLayout& layout, const std::string& id);

// The signature file beside a manifest file.
fs::path signatureFile(const fs::path& release, const std::string& platform);

}  // namespace publish
