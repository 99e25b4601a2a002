#include "tools/publish/release_signing.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/publish/site_serial.h"
#include "tools/release_manifest/release_manifest.h"
#include "trust/sha256_hex.h"
#include "trust/signing_key_file.h"

namespace publish {

namespace {

bool readText(const fs::path& file, std::string& text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Gives `file`, just written into a release being written (SITE/releases/.partial-ID/NAME), a
// modification time at least a second after that of SITE/current/NAME, the file its URL serves
// until `current` switches. nginx's validators are that time in whole seconds and the size: two
// manifests or signatures of one size written in the same second would look the same to a
// cache that revalidates, and it would keep serving the older one.
bool laterThanServed(const fs::path& file, std::string& error) {
  const fs::path release = file.parent_path();
  if (release.filename().string().rfind(".partial-", 0) != 0) return true;
  std::error_code ec;
  const fs::path served = SiteLayout{release.parent_path().parent_path()}.currentLink() / file.filename();
  const fs::file_time_type next = fs::last_write_time(served, ec) + std::chrono::seconds(1);
  if (ec) return true;  // nothing served under that name
  if (fs::last_write_time(file, ec) >= next && !ec) return true;
  fs::last_write_time(file, next, ec);
  if (!ec) return true;
  error = "cannot set the time of " + file.string() + ": " + ec.message();
  return false;
}

}  // namespace

bool writeText(const fs::path& file, const std::string& text, std::string& error) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    error = "cannot write " + file.string();
    return false;
  }
  return laterThanServed(file, error);
}

std::int64_t expiryFromNow(int days) {
  if (days == 0) return 0;
  const auto now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  return now.time_since_epoch().count() + static_cast<std::int64_t>(days) * 86400;
}

fs::path signatureFile(const fs::path& release, const std::string& platform) {
  fs::path file = manifestFile(release, platform);
  file += ".sig";
  return file;
}

bool readSigningKey(const fs::path& file, ManifestSecretKey& key, std::string& error) {
  std::string text;
  if (!readText(file, text)) {
    error = "cannot read the signing key " + file.string();
    return false;
  }
  std::string reason;
  if (!parseSigningKeyFile(text, key, reason)) {
    error = file.string() + ": " + reason;
    return false;
  }
  return true;
}

bool signedPlatforms(const fs::path& release, std::vector<std::string>& platforms, std::string& error) {
  platforms.clear();
  const std::string suffix = ".json.sig";
  std::error_code ec;
  for (fs::directory_iterator it(release, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string platform = name.substr(0, name.size() - suffix.size());
    if (isPlatformName(platform)) platforms.push_back(platform);
  }
  if (ec) {
    error = "cannot list " + release.string() + ": " + ec.message();
    return false;
  }
  std::sort(platforms.begin(), platforms.end());
  return true;
}

bool nextSerial(const SiteLayout& layout, std::uint64_t floor, std::uint64_t& serial, std::string& error) {
  std::uint64_t issued = 0;
  if (!readIssuedSerial(layout, issued, error)) return false;
  std::uint64_t highest = std::max(floor, issued);
  std::vector<std::string> ids;
  if (!listReleaseIds(layout, ids, error)) return false;
  for (const std::string& id : ids) {
    std::vector<std::string> platforms;
    if (!signedPlatforms(layout.releaseDir(id), platforms, error)) return false;
    for (const std::string& platform : platforms) {
      const fs::path file = signatureFile(layout.releaseDir(id), platform);
      std::string text;
      ManifestSignature signature;
      std::string reason = "cannot read it";
      if (!readText(file, text) || !parseManifestSignature(text, signature, reason)) {
        error = file.string() + ": " + reason;
        return false;
      }
      highest = std::max(highest, signature.serial);
    }
  }
  // The largest serial a signature file may carry.
  if (highest >= static_cast<std::uint64_t>(INT64_MAX)) {
    error = "no serial is left above " + std::to_string(highest);
    return false;
  }
  serial = highest + 1;
  return true;
}

std::string rollbackWarning(const SiteLayout& layout, const std::string& id) {
  const std::string suffix = ".json.sig";
  std::error_code ec;
  for (const fs::directory_entry& item : fs::directory_iterator(layout.releaseDir(id), ec)) {
    const std::string name = item.path().filename().string();
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string platform = name.substr(0, name.size() - suffix.size());
    std::string text;
    ManifestSignature signature;
    std::string reason;
    std::uint64_t next = 0;
    if (!readText(item.path(), text) || !parseManifestSignature(text, signature, reason) ||
        !nextSerial(layout, 0, next, reason) || signature.serial + 1 >= next) {
      continue;
    }
    return platform + " of release " + id + " is signed with serial " + std::to_string(signature.serial) +
           ", below the site's " + std::to_string(next - 1) +
           ": launchers that accepted that one refuse it. Sign it again with --resign to serve it with a new serial.";
  }
  return "";
}

bool writeSignedManifest(const fs::path& release, const std::string& platform, const std::string& json,
                         const ManifestSecretKey& key, std::uint64_t serial, std::int64_t expires,
                         std::string& error) {
  ManifestSignature signature;
  if (!signManifest(key, platform, serial, json, signature, expires)) {
    error = "the crypto library cannot start";
    return false;
  }
  return writeText(manifestFile(release, platform), json, error) &&
         writeText(signatureFile(release, platform), formatManifestSignature(signature), error);
}

namespace {

// Whether `found`, the manifest of `platform` in release `id`, is what the record at `recordFile`
// says was signed last for the site; the refusal names the way to sign it all the same.
bool isLastSigned(const fs::path& recordFile, const SiteLayout& layout, const std::string& id,
                  const std::string& platform, const SignedManifest& found, std::string& error) {
  SigningRecord record;
  if (!readSigningRecord(recordFile, record, error)) return false;
  const std::string site = recordedSiteName(layout.site);
  const auto last = record.find({site, platform});
  if (last != record.end() && last->second.serial == found.serial &&
      last->second.manifestSha256 == found.manifestSha256) {
    return true;
  }
  const std::string what = platform + " of release " + id + " (serial " + std::to_string(found.serial) + ")";
  error = last == record.end()
              ? what + " cannot be checked: " + recordFile.string() + " has no record of signing " + platform +
                    " for " + site
              : what + " is not what this key last signed for " + site + " (serial " +
                    std::to_string(last->second.serial) + ")";
  error += "; if serving it is meant, name it: --resign --rollback-to " + id;
  return false;
}

}  // namespace

bool takeVouchedManifest(const SiteLayout& layout, const std::string& id, const std::string& platform,
                         const ManifestSecretKey& key, const fs::path& recordFile, bool named,
                         VouchedManifest& manifest, std::string& error) {
  const fs::path release = layout.releaseDir(id);
  const fs::path file = signatureFile(release, platform);
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    error = manifestFile(release, platform).string() + " is not signed, so this key cannot vouch for it; publish " +
            "it again with --sign-key from your own source (a candidate: --source DIR --rollout PERCENT)";
    return false;
  }
  std::string text;
  ManifestSignature signature;
  std::string reason;
  if (!readText(manifestFile(release, platform), manifest.json) || !readText(file, text)) {
    error = "cannot read the manifest of " + platform + " or its signature in " + release.string();
    return false;
  }
  if (!parseManifestSignature(text, signature, reason)) {
    error = file.string() + ": " + reason;
    return false;
  }
  if (!verifyManifestSignature(publicKeyOf(key), platform, manifest.json, signature)) {
    error = "the signature of " + platform + ".json does not verify with this key; publish the release's "
            "tree again to sign it anew";
    return false;
  }
  manifest.signedAs = {signature.serial, sha256Hex(manifest.json)};
  if (named) return true;
  if (recordFile.empty()) {
    error = platform + " of release " + id + " cannot be checked without the record of what the key signed last";
    return false;
  }
  return isLastSigned(recordFile, layout, id, platform, manifest.signedAs, error);
}

bool recordSigned(const fs::path& recordFile, const SiteLayout& layout,
                  const std::map<std::string, SignedManifest>& signedNow, std::string& error) {
  SigningRecord record;
  if (!readSigningRecord(recordFile, record, error)) return false;
  const std::string site = recordedSiteName(layout.site);
  for (const auto& [platform, manifest] : signedNow) record[{site, platform}] = manifest;
  return writeSigningRecord(recordFile, record, error);
}

bool resignManifest(const fs::path& release, const std::string& platform, const ManifestSecretKey& key,
                    std::uint64_t serial, std::int64_t expires, const std::string& checkedSha256,
                    std::string& error) {
  const fs::path manifest = manifestFile(release, platform);
  const fs::path file = signatureFile(release, platform);
  std::string json;
  std::string text;
  ManifestSignature old;
  std::string reason;
  if (!readText(manifest, json) || !readText(file, text)) {
    error = "cannot read the manifest of " + platform + " or its signature in " + release.string();
    return false;
  }
  if (!parseManifestSignature(text, old, reason)) {
    error = file.string() + ": " + reason;
    return false;
  }
  if (sha256Hex(json) != checkedSha256) {
    error = manifest.string() + " changed while it was being signed again; nothing was signed";
    return false;
  }
  if (!verifyManifestSignature(publicKeyOf(key), platform, json, old)) {
    error = "the signature of " + platform + ".json does not verify with this key; publish the release's "
            "tree again to sign it anew";
    return false;
  }
  ManifestSignature fresh;
  if (!signManifest(key, platform, serial, json, fresh, expires)) {
    error = "the crypto library cannot start";
    return false;
  }
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) {
    error = "cannot replace " + file.string() + ": " + ec.message();
    return false;
  }
  return writeText(file, formatManifestSignature(fresh), error);
}

}  // namespace publish
