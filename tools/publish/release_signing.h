#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/publish/signing_record.h"
#include "tools/publish/site_layout.h"
#include "trust/manifest_signature.h"

// Signing a release: every regular file's SHA-256 goes into the manifest, and the manifest's
// signature goes beside it as <platform>.json.sig, inside the release, so that the one rename
// of `current` switches files, manifest and signature together.
namespace publish {

// Reads a key file written by kestrun-keygen.
bool readSigningKey(const fs::path& file, ManifestSecretKey& key, std::string& error);

// The serial of the next signature in this site: one more than the highest of every kept
// release's signatures (any platform), of SITE/serial and of `floor` (1 for the first). It keeps
// growing across rollbacks, pruning and a restored site, because launchers refuse any serial
// below the one they have accepted. False when SITE/serial is damaged or a kept signature is.
bool nextSerial(const SiteLayout& layout, std::uint64_t floor, std::uint64_t& serial, std::string& error);

// Writes `json` (the manifest with a sha256 for every regular file of the release's platform
// tree) as <platform>.json, and <platform>.json.sig over its exact bytes with `serial` and
// `expires` (seconds since 1970 UTC; 0: never).
bool writeSignedManifest(const fs::path& release, const std::string& platform, const std::string& json,
                         const ManifestSecretKey& key, std::uint64_t serial, std::int64_t expires,
                         std::string& error);

// The platforms of a release that have a signature beside their manifest, sorted.
bool signedPlatforms(const fs::path& release, std::vector<std::string>& platforms, std::string& error);

// Replaces <platform>.json.sig of a release being written by a new signature of the unchanged
// manifest with `serial` and `expires`. The old signature must verify with this key: a timer
// that signs again only extends what the key's owner signed before, never a manifest edited
// on the host or signed with another key. The old file may be a hard link shared with the
// release it came from, so it is removed, never written into. The manifest must still be the
// one checked before (`checkedSha256`): a host that swaps files between the check and the
// signing must not get other bytes signed.
bool resignManifest(const fs::path& release, const std::string& platform, const ManifestSecretKey& key,
                    std::uint64_t serial, std::int64_t expires, const std::string& checkedSha256,
                    std::string& error);

// A manifest of the site as a signing path may take it: its exact bytes, checked once.
struct VouchedManifest {
  std::string json;
  SignedManifest signedAs;  // its signature's serial and the digest of `json`
};

// The one way a path that signs takes a manifest from the site. The manifest of `platform` in
// release `id` must carry a signature that verifies with `key` and, unless the operator named
// the release (`named`: --rollback-to, --rollback), be what the signer's record at `recordFile`
// names as signed last for the site. Anything else is refused, naming the file: whoever can
// write the site without the key must not get their edit signed.
bool takeVouchedManifest(const SiteLayout& layout, const std::string& id, const std::string& platform,
                         const ManifestSecretKey& key, const fs::path& recordFile, bool named,
                         VouchedManifest& manifest, std::string& error);

// Records `signedNow` (platform -> what was just signed or served) for the site.
bool recordSigned(const fs::path& recordFile, const SiteLayout& layout,
                  const std::map<std::string, SignedManifest>& signedNow, std::string& error);

// Empty, or why launchers will refuse release `id` once it is current again: it is signed with
// a serial below the highest of the site, which they may have accepted already.
std::string rollbackWarning(const SiteLayout& layout, const std::string& id);

// The moment `days` days from now, in whole seconds since 1970 UTC; 0 (never) for 0 days.
std::int64_t expiryFromNow(int days);

// Writes `text` to `file` whole, replacing it; false with `error` when it cannot. A file of a
// release being written gets a modification time at least a second after that of the file
// `current` serves under its name, so that nginx's validators (time and size) always change.
bool writeText(const fs::path& file, const std::string& text, std::string& error);

// The signature file beside a manifest file.
fs::path signatureFile(const fs::path& release, const std::string& platform);

}  // namespace publish
