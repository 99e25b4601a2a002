#include "tools/publish/release_signing.h"

#include <fstream>
#include <iterator>
#include <vector>

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

bool writeText(const fs::path& file, const std::string& text, std::string& error) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  error = "cannot write " + file.string();
  return false;
}

// Read in pieces: release files may be large.
bool hashFile(const fs::path& file, std::string& digest, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 16);
  Sha256Stream stream;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    stream.update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad() || !in.eof()) {
    error = "cannot read " + file.string();
    return false;
  }
  digest = stream.finishHex();
  return true;
}

}  // namespace

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

bool nextSerial(const SiteLayout& layout, const std::string& platform, std::uint64_t& serial, std::string& error) {
  std::vector<std::string> ids;
  if (!listReleaseIds(layout, ids, error)) return false;
  std::uint64_t highest = 0;
  for (const std::string& id : ids) {
    std::string text;
    if (!readText(signatureFile(layout.releaseDir(id), platform), text)) continue;  // an unsigned release
    ManifestSignature signature;
    std::string reason;
    if (!parseManifestSignature(text, signature, reason)) {
      error = signatureFile(layout.releaseDir(id), platform).string() + ": " + reason;
      return false;
    }
    if (signature.serial > highest) highest = signature.serial;
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
        !nextSerial(layout, platform, next, reason) || signature.serial + 1 >= next) {
      continue;
    }
    return platform + " of release " + id + " is signed with serial " + std::to_string(signature.serial) +
           ", below the site's " + std::to_string(next - 1) +
           ": launchers that accepted that one refuse it. To go back, publish its tree again with --sign-key.";
  }
  return "";
}

bool writeSignedManifest(const fs::path& release, const std::string& platform, const ManifestSecretKey& key,
                         std::uint64_t serial, std::string& error) {
  const fs::path tree = platformTree(release, platform);
  release_manifest::ReleaseListing listing;
  if (!release_manifest::listReleaseTree(tree, listing, error)) return false;
  for (release_manifest::ReleaseEntry& entry : listing.entries) {
    if (!entry.isLink() && !hashFile(tree / entry.path, entry.sha256, error)) return false;
  }
  const std::string json = release_manifest::manifestJson(listing.entries);

  ManifestSignature signature;
  if (!signManifest(key, platform, serial, json, signature)) {
    error = "the crypto library cannot start";
    return false;
  }
  return writeText(manifestFile(release, platform), json, error) &&
         writeText(signatureFile(release, platform), formatManifestSignature(signature), error);
}

}  // namespace publish
