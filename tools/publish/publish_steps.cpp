#include "tools/publish/publish_steps.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <system_error>

#include "tools/publish/release_rollout.h"
#include "tools/publish/release_signing.h"
#include "tools/publish/site_serial.h"
#include "trust/sha256_hex.h"
#include "tools/release_manifest/release_path_rules.h"

namespace publish {

namespace {

// Leftovers of runs that were killed: never served, safe to delete.
bool isLeftover(const std::string& name) {
  return name.rfind(".partial-", 0) == 0 || name.rfind(".removing-", 0) == 0 ||
         name.rfind(".current-", 0) == 0;
}

bool removeLeftovers(const fs::path& dir, std::string& error) {
  std::error_code ec;
  std::vector<fs::path> leftovers;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (isLeftover(it->path().filename().string())) leftovers.push_back(it->path());
  }
  for (const fs::path& leftover : leftovers) {
    if (!ec) fs::remove_all(leftover, ec);
  }
  if (ec) {
    error = "cannot clean up " + dir.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool overlaps(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const fs::path realA = fs::weakly_canonical(a, ec);
  const fs::path realB = fs::weakly_canonical(b, ec);
  return !ec && (release_manifest::liesWithin(realA, realB) ||
                 release_manifest::liesWithin(realB, realA));
}

// One line for each entry of the listing of `tree` that breaks the release rules (for the
// "windows" platform, those of Windows names as well), each starting with `prefix`.
std::string refusedEntries(const fs::path& tree, const release_manifest::ReleaseListing& listing,
                           const std::string& platform, const std::string& prefix) {
  std::string refusals;
  std::set<std::string> refused;  // one line for an entry, the first reason
  for (const std::string& special : listing.specialFiles) {
    refusals += prefix + special + ": not a regular file, link or directory\n";
  }
  for (const release_manifest::ReleaseEntry& entry : listing.entries) {
    std::string reason;
    if (!release_manifest::isAcceptedEntry(tree, entry, reason) ||
        (platform == "windows" && !release_manifest::isAcceptedWindowsPath(entry.path, reason))) {
      refusals += prefix + entry.path + ": " + reason + "\n";
      refused.insert(entry.path);
    }
  }
  for (const auto& [path, target] : release_manifest::findLinksThroughLinks(listing.entries)) {
    if (refused.count(path) == 0) refusals += prefix + path + ": link target " + target + " passes through another link\n";
  }
  if (platform != "windows") return refusals;
  for (const auto& [later, earlier] : release_manifest::findWindowsNameClashes(listing.entries)) {
    if (refused.count(later) == 0) refusals += prefix + later + ": one file on Windows with " + earlier + "\n";
  }
  return refusals;
}

// The first path at which two sorted listings differ in their entries or link targets; empty
// when they hold the same.
std::string firstDifference(const std::vector<release_manifest::ReleaseEntry>& a,
                            const std::vector<release_manifest::ReleaseEntry>& b) {
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    if (i == a.size()) return b[i].path;
    if (i == b.size()) return a[i].path;
    if (a[i].path != b[i].path) return std::min(a[i].path, b[i].path);
    if (a[i].link != b[i].link) return a[i].path;
  }
  return "";
}

// The releases that patches start from: the current one (what most launchers have), then the
// newest others, `count` in all.
std::vector<fs::path> patchBases(const PublishRun& run, int count) {
  std::vector<std::string> ids;
  std::string ignored;
  if (count <= 0 || !listReleaseIds(run.layout, ids, ignored)) return {};
  std::vector<fs::path> bases;
  if (!run.previousId.empty()) bases.push_back(run.layout.releaseDir(run.previousId));
  for (auto id = ids.rbegin(); id != ids.rend() && bases.size() < static_cast<std::size_t>(count); ++id) {
    if (*id != run.previousId) bases.push_back(run.layout.releaseDir(*id));
  }
  return bases;
}

// The platform name the source is staged under: the candidate's for a rollout.
std::string stagedPlatform(const PublishRequest& request) {
  return request.rolloutShare ? candidatePlatform(request.platform) : request.platform;
}

bool readPlainText(const fs::path& file, std::string& text, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in && !in.bad()) return true;
  error = "cannot read " + file.string();
  return false;
}

// A signed manifest changed without the key would be refused by every launcher.
bool keyForSigned(const PublishRequest& request, const fs::path& release, const std::string& platform,
                  std::string& error) {
  std::error_code ec;
  if (request.signingKey || !fs::exists(signatureFile(release, platform), ec)) return true;
  error = platform + " of the current release is signed: a rollout needs --sign-key";
  return false;
}

// Writes `json` as the manifest of `platform` in the release being written, with its signature.
// Recorded as signed once switched: the bytes signed here, never what the host holds then.
bool signManifestOfRun(const PublishRequest& request, PublishRun& run, const std::string& platform,
                       const std::string& json, std::string& error) {
  run.signedNow[platform] = {run.serial, sha256Hex(json)};
  return writeSignedManifest(run.partial, platform, json, *request.signingKey, run.serial,
                             expiryFromNow(request.expiresInDays), error);
}

// The manifests of `platforms` in the current release that a signing run builds on, each
// checked by takeVouchedManifest; without a key, a signed one is refused (changing it would
// break its signature).
bool vouchForCurrent(const PublishRequest& request, PublishRun& run, const std::vector<std::string>& platforms,
                     std::string& error) {
  for (const std::string& platform : platforms) {
    if (!request.signingKey) {
      if (!keyForSigned(request, run.layout.releaseDir(run.previousId), platform, error)) return false;
      continue;
    }
    if (!takeVouchedManifest(run.layout, run.previousId, platform, *request.signingKey, request.signingRecord, false,
                             run.vouched[platform], error)) {
      return false;
    }
  }
  return true;
}

// The manifest text of `platform` that the run builds on: as vouched for with a key, else as
// the unsigned site holds it.
bool baseManifest(const PublishRun& run, const std::string& platform, std::string& json, std::string& error) {
  if (const auto found = run.vouched.find(platform); found != run.vouched.end()) {
    json = found->second.json;
    return true;
  }
  return readPlainText(manifestFile(run.layout.releaseDir(run.previousId), platform), json, error);
}

// Writes the manifest of `platform` into the release being written, replacing the one carried
// over (a hard link shared with the release it came from, so removed, never written into),
// and with a key its signature.
bool replaceManifest(const PublishRequest& request, PublishRun& run, const std::string& platform,
                     const std::string& json, std::string& error) {
  std::error_code ec;
  fs::remove(manifestFile(run.partial, platform), ec);
  fs::remove(signatureFile(run.partial, platform), ec);
  if (!request.signingKey) return writeText(manifestFile(run.partial, platform), json, error);
  return signManifestOfRun(request, run, platform, json, error);
}

// The release that first served the files of `platform` that release `id` serves: the oldest
// of the kept releases up to `id`, without a gap, whose manifest of the platform, or of its
// candidate, lists the same files. Health reports name it, whichever later publish (of another
// platform, a share change, a signing again) carried the files over.
std::string firstServedIn(const SiteLayout& layout, const std::string& id, const std::string& platform) {
  std::vector<std::string> ids;
  std::string ignored;
  const std::string files = listedFiles(manifestFile(layout.releaseDir(id), platform));
  if (files.empty() || !listReleaseIds(layout, ids, ignored)) return id;
  auto at = std::find(ids.begin(), ids.end(), id);
  if (at == ids.end()) return id;
  std::string first = id;
  while (at != ids.begin()) {
    const fs::path release = layout.releaseDir(*--at);
    if (listedFiles(manifestFile(release, platform)) != files &&
        listedFiles(manifestFile(release, candidatePlatform(platform))) != files) {
      break;
    }
    first = *at;
  }
  return first;
}

// `json` asking for the automatic rollback of `release` with the settings of `settings`, when
// there are any.
bool askForAutoRollback(const std::optional<AutoRollback>& settings, const std::string& release, std::string& json,
                        std::string& error) {
  if (!settings) return true;
  AutoRollback asked = *settings;
  asked.release = release;
  return withAutoRollback(json, asked, json, error);
}

// After the switch: a record that cannot be written leaves the next --resign refusing the
// release, which the error says.
bool recordSignedAfterSwitch(const fs::path& recordFile, const PublishRun& run,
                             const std::map<std::string, SignedManifest>& signedNow, std::string& error) {
  if (recordSigned(recordFile, run.layout, signedNow, error)) return true;
  error = "release " + run.id + " is current, but " + error + "; sign it again with --resign --rollback-to " + run.id;
  return false;
}

}  // namespace

bool checkSource(const PublishRequest& request, PublishRun& run, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(request.source, ec)) {
    error = "not a directory: " + request.source.string();
    return false;
  }
  if (overlaps(request.source, request.site)) {
    error = "the source and the site must not contain each other";
    return false;
  }
  if (!release_manifest::listReleaseTree(request.source, run.source, error)) return false;
  std::string refusals = refusedEntries(request.source, run.source, request.platform, "refused: ");
  if (run.source.entries.empty() && refusals.empty()) {
    refusals = "nothing to publish in " + request.source.string() + "\n";
  }
  if (refusals.empty()) {
    // Hashed here, before anything is staged: a staged file lies in the site, where whoever
    // writes the site can swap it, and a hard-linked one shares its bytes with the source from
    // then on. The manifest signs these hashes, never a reading of the staged tree.
    if (!request.signingKey && !request.objects) return true;
    for (release_manifest::ReleaseEntry& entry : run.source.entries) {
      if (!entry.isLink() && !hashFile(request.source / entry.path, entry.sha256, error)) return false;
    }
    return true;
  }
  refusals.pop_back();
  error = refusals;
  return false;
}

bool prepareSite(const PublishRequest& request, PublishRun& run, std::string& error) {
  run.layout.site = request.site;
  std::error_code ec;
  fs::create_directories(run.layout.releasesDir(), ec);
  if (ec) {
    error = "cannot create " + run.layout.releasesDir().string() + ": " + ec.message();
    return false;
  }
  // Before anything of the site is read: another publisher's partial release is not a
  // leftover while it runs. A steering step holds it already, since before it read the site.
  if (!(run.lock.held() || run.lock.acquire(run.layout, request.waitingForSite, error)) ||
      !currentReleaseId(run.layout, run.previousId, error)) {
    return false;
  }
  if (!removeLeftovers(run.layout.site, error) ||
      !removeLeftovers(run.layout.releasesDir(), error)) {
    return false;
  }
  if (request.rolloutShare && !request.source.empty()) {
    std::error_code ec;
    if (run.previousId.empty() ||
        !fs::exists(manifestFile(run.layout.releaseDir(run.previousId), request.platform), ec)) {
      error = "a candidate is rolled out beside a current release of " + request.platform + "; publish one first";
      return false;
    }
    if (!vouchForCurrent(request, run, {request.platform}, error)) return false;
  }
  // Before anything is written: a damaged SITE/serial stops the run here.
  if (request.signingKey && !nextSerial(run.layout, request.serialFloor, run.serial, error)) return false;
  run.id = newReleaseId(run.layout);
  run.partial = run.layout.partialDir(run.id);
  fs::create_directory(run.partial, ec);
  if (ec) {
    error = "cannot create " + run.partial.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool stageRelease(const PublishRequest& request, PublishRun& run, std::string& error) {
  if (!run.previousId.empty() &&
      !carryOverOtherPlatforms(run.layout.releaseDir(run.previousId), run.partial,
                               stagedPlatform(request), error)) {
    return false;
  }
  // A new release of a platform ends the rollout of its candidate.
  if (!request.rolloutShare && !removePlatformItems(run.partial, candidatePlatform(request.platform), error)) {
    return false;
  }
  return cloneEntries(request.source, platformTree(run.partial, stagedPlatform(request)),
                      run.source.entries, request.preferHardLinks, run.counts, error);
}

bool checkStagedRelease(const PublishRequest& request, const PublishRun& run, std::string& error) {
  const fs::path tree = platformTree(run.partial, stagedPlatform(request));
  release_manifest::ReleaseListing staged;
  if (!release_manifest::listReleaseTree(tree, staged, error)) return false;
  std::string refusals = refusedEntries(tree, staged, request.platform, "refused in the staged release: ");
  if (refusals.empty()) {
    const std::string difference = firstDifference(staged.entries, run.source.entries);
    if (difference.empty()) return true;
    refusals = "the staged release differs from the checked source at " + difference + "\n";
  }
  refusals.pop_back();
  error = refusals;
  return false;
}

bool writeManifest(const PublishRequest& request, PublishRun& run, std::string& error) {
  const std::string staged = stagedPlatform(request);
  // The entries, sizes, times and hashes of the checked source (checkStagedRelease made sure
  // that the staged tree holds the same entries).
  release_manifest::ReleaseListing listing = run.source;
  if (request.objects &&
      !writeReleaseObjects(run.partial, staged, patchBases(run, request.patchBases), request.platform,
                           listing.entries, run.objects, error)) {
    return false;
  }
  if (!request.signingKey) {
    for (release_manifest::ReleaseEntry& entry : listing.entries) {
      if (entry.zst.empty() && entry.patches.empty()) entry.sha256.clear();
    }
  }
  std::string json = release_manifest::manifestJson(listing.entries);
  if (request.rolloutShare) {
    // The candidate's own manifest is kept for the day it becomes the current release; the
    // platform's manifest offers it.
    RolloutState state{run.id, *request.rolloutShare, ""};
    run.shareChanges.push_back({0, request.platform, run.id, state.share});
    std::string current;
    std::string offer;
    const auto askForHealth = [&] {
      return !request.healthReports || asksForHealth(current) ||
             withHealthRequest(current, firstServedIn(run.layout, run.previousId, request.platform), current, error);
    };
    // The current release keeps the rollback it asked for; launchers of the candidate's cohort
    // name the candidate instead, and the candidate's own manifest names it for the day it
    // becomes the current release.
    const auto askForRollback = [&] {
      return autoRollbackOf(current) ||
             askForAutoRollback(request.autoRollback, firstServedIn(run.layout, run.previousId, request.platform),
                                current, error);
    };
    // Signed, the candidate's manifest carries a signature of its own, so that a share change
    // can check it before it merges it again.
    const auto writeCandidate = [&] {
      return request.signingKey ? signManifestOfRun(request, run, staged, json, error)
                                : writeText(manifestFile(run.partial, staged), json, error);
    };
    return drawSalt(state.salt, error) && askForAutoRollback(request.autoRollback, run.id, json, error) &&
           baseManifest(run, request.platform, current, error) && askForHealth() && askForRollback() &&
           rolloutManifest(current, state, json, offer, error) &&
           (!request.signingKey || recordIssuedSerial(run.layout, run.serial, error)) && writeCandidate() &&
           replaceManifest(request, run, request.platform, offer, error);
  }
  if (request.healthReports && !withHealthRequest(json, run.id, json, error)) return false;
  if (!askForAutoRollback(request.autoRollback, run.id, json, error)) return false;
  if (request.signingKey) {
    return recordIssuedSerial(run.layout, run.serial, error) &&
           signManifestOfRun(request, run, request.platform, json, error);
  }
  return writeText(manifestFile(run.partial, request.platform), json, error);
}

bool sealRelease(const PublishRun& run, std::string& error) {
  std::error_code ec;
  fs::rename(run.partial, run.layout.releaseDir(run.id), ec);
  if (ec) {
    error = "cannot rename " + run.partial.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool switchCurrent(const SiteLayout& layout, const std::string& id, std::string& error) {
  const fs::path next = layout.nextCurrentLink(id);
  std::error_code ec;
  fs::remove(next, ec);
  fs::create_symlink(SiteLayout::currentTarget(id), next, ec);
  if (ec) {
    error = "cannot create " + next.string() + ": " + ec.message();
    return false;
  }
  // rename() replaces the old link in one step: every request sees the old release or the
  // new one, never a missing `current`.
  fs::rename(next, layout.currentLink(), ec);
  if (ec) {
    error = "cannot switch " + layout.currentLink().string() + ": " + ec.message();
    fs::remove(next, ec);
    return false;
  }
  return true;
}

bool pruneReleases(const SiteLayout& layout, int keep, std::vector<std::string>& removed,
                   std::string& error) {
  std::vector<std::string> ids;
  std::string currentId;
  if (!listReleaseIds(layout, ids, error) || !currentReleaseId(layout, currentId, error)) {
    return false;
  }
  const std::size_t kept = keep > 0 ? static_cast<std::size_t>(keep) : 0;
  for (std::size_t i = 0; i + kept < ids.size(); ++i) {
    const std::string& id = ids[i];
    if (id == currentId) continue;
    // Renamed first, so that a killed run never leaves half a release under its id.
    std::error_code ec;
    fs::rename(layout.releaseDir(id), layout.removingDir(id), ec);
    if (!ec) fs::remove_all(layout.removingDir(id), ec);
    if (ec) {
      error = "cannot remove release " + id + ": " + ec.message();
      return false;
    }
    removed.push_back(id);
  }
  return true;
}

bool publishRelease(const PublishRequest& request, PublishRun& run, std::string& error) {
  if (!(checkSource(request, run, error) && prepareSite(request, run, error) &&
        stageRelease(request, run, error) && checkStagedRelease(request, run, error) &&
        writeManifest(request, run, error) && sealRelease(run, error) &&
        switchCurrent(run.layout, run.id, error))) {
    return false;
  }
  if (!request.signingKey || request.signingRecord.empty()) return true;
  // Only what this run signed: the other platforms were carried over from what `current` served.
  // What is recorded is what was signed in memory, not what the host holds now: a host that
  // swapped in an older signed manifest must not have it recorded as the last one signed.
  return recordSignedAfterSwitch(request.signingRecord, run, run.signedNow, error);
}

bool resignRelease(const PublishRequest& request, PublishRun& run, std::string& error) {
  if (!request.signingKey) {
    error = "signing again needs a signing key";
    return false;
  }
  if (request.signingRecord.empty()) {
    error = "signing again needs the record of what the key signed last";
    return false;
  }
  if (!prepareSite(request, run, error)) return false;
  const std::string& sourceId = request.resignFrom.empty() ? run.previousId : request.resignFrom;
  std::error_code ec;
  if (!request.resignFrom.empty() &&
      (!isReleaseId(sourceId) || !fs::is_directory(run.layout.releaseDir(sourceId), ec))) {
    error = "no release " + sourceId + " in " + run.layout.releasesDir().string();
    return false;
  }
  if (sourceId.empty()) {
    error = "no current release in " + run.layout.site.string() + " to sign again";
    return false;
  }
  const fs::path source = run.layout.releaseDir(sourceId);
  if (!signedPlatforms(source, run.resigned, error)) return false;
  if (run.resigned.empty()) {
    error = "release " + sourceId + " has no signed manifest to sign again";
    return false;
  }
  // Every manifest is checked before anything is signed.
  std::map<std::string, SignedManifest> signedNow;
  for (const std::string& platform : run.resigned) {
    VouchedManifest found;
    if (!takeVouchedManifest(run.layout, sourceId, platform, *request.signingKey, request.signingRecord,
                             !request.resignFrom.empty(), found, error)) {
      return false;
    }
    // A candidate that reaches some installations is signed only with an end: a copy of a
    // signature that never expires could move installations onto it long after a halt. Read
    // from the bytes checked, not from the site again.
    std::optional<RolloutState> state;
    std::string reason;
    if (!rolloutOf(found.json, state, reason)) {
      error = manifestFile(source, platform).string() + ": " + reason;
      return false;
    }
    if (state && state->share > 0 && state->share < 100 && request.expiresInDays == 0) {
      error = platform + " of release " + sourceId + " offers a candidate: signing it again needs --expires";
      return false;
    }
    signedNow[platform] = {run.serial, found.signedAs.manifestSha256};
  }
  const std::int64_t expires = expiryFromNow(request.expiresInDays);
  if (!carryOverOtherPlatforms(source, run.partial, "", error)) return false;
  for (const std::string& platform : run.resigned) {
    if (!resignManifest(run.partial, platform, *request.signingKey, run.serial, expires,
                        signedNow[platform].manifestSha256, error)) {
      return false;
    }
  }
  return recordIssuedSerial(run.layout, run.serial, error) && sealRelease(run, error) &&
         switchCurrent(run.layout, run.id, error) &&
         recordSignedAfterSwitch(request.signingRecord, run, signedNow, error);
}

bool changeRollout(const PublishRequest& request, PublishRun& run, std::string& error) {
  if (!prepareSite(request, run, error)) return false;
  if (run.previousId.empty()) {
    error = "no current release in " + run.layout.site.string();
    return false;
  }
  const fs::path source = run.layout.releaseDir(run.previousId);
  if (!rolloutPlatforms(source, run.resigned, error)) return false;
  if (run.resigned.empty()) {
    error = "release " + run.previousId + " offers no candidate; roll one out with --source DIR --platform NAME "
            "--rollout PERCENT";
    return false;
  }
  // Both manifests are merged into what is signed: each must be what the key signed last.
  for (const std::string& platform : run.resigned) {
    if (!vouchForCurrent(request, run, {platform, candidatePlatform(platform)}, error)) return false;
  }
  if (!carryOverOtherPlatforms(source, run.partial, "", error)) return false;
  if (request.signingKey && !recordIssuedSerial(run.layout, run.serial, error)) return false;
  for (const std::string& platform : run.resigned) {
    const std::string candidate = candidatePlatform(platform);
    std::string current;
    std::string candidateJson;
    std::optional<RolloutState> state;
    std::string reason = "it lost its rollout";
    if (!baseManifest(run, platform, current, error) || !baseManifest(run, candidate, candidateJson, error)) {
      return false;
    }
    if (!rolloutOf(current, state, reason) || !state) {
      error = manifestFile(source, platform).string() + ": " + reason;
      return false;
    }
    if (!offersCandidate(current, candidateJson)) {
      error = manifestFile(source, candidate).string() + " is not the candidate that " + platform + ".json offers";
      return false;
    }
    run.shareChanges.push_back({0, platform, state->release, *request.rolloutShare});
    std::string json;
    if (*request.rolloutShare == 100) {
      // The candidate becomes the platform's release: its files, objects and manifest, asking
      // for health reports and automatic rollback on it where the site asked for them.
      if ((asksForHealth(current) && !withHealthRequest(candidateJson, state->release, candidateJson, error)) ||
          !askForAutoRollback(autoRollbackOf(current), state->release, candidateJson, error)) {
        return false;
      }
      std::error_code ec;
      if (!removePlatformItems(run.partial, platform, error)) return false;
      fs::rename(platformTree(run.partial, candidate), platformTree(run.partial, platform), ec);
      if (!ec && fs::exists(objectsDir(run.partial, candidate))) {
        fs::rename(objectsDir(run.partial, candidate), objectsDir(run.partial, platform), ec);
      }
      if (!ec) fs::remove(manifestFile(run.partial, candidate), ec);
      if (!ec) fs::remove(signatureFile(run.partial, candidate), ec);
      if (ec) {
        error = "cannot make the candidate of " + platform + " current: " + ec.message();
        return false;
      }
      json = candidateJson;
    } else {
      state->share = *request.rolloutShare;
      if (!rolloutManifest(current, *state, candidateJson, json, error)) return false;
    }
    if (!replaceManifest(request, run, platform, json, error)) return false;
  }
  if (!sealRelease(run, error) || !switchCurrent(run.layout, run.id, error)) return false;
  if (!request.signingKey || request.signingRecord.empty()) return true;
  return recordSignedAfterSwitch(request.signingRecord, run, run.signedNow, error);
}

bool rollBack(const SiteLayout& layout, const std::string& id, std::string& error,
              const std::function<void()>& waiting, const ManifestSecretKey* key, const fs::path& signingRecord) {
  const auto isKept = [&] {
    std::error_code ec;
    if (isReleaseId(id) && fs::is_directory(layout.releaseDir(id), ec)) return true;
    error = "no release " + id + " in " + layout.releasesDir().string();
    return false;
  };
  SiteLock lock;
  // Asked again once the site is locked: a publish waited for may have pruned it.
  if (!isKept() || !lock.acquire(layout, waiting, error) || !isKept()) return false;
  std::map<std::string, SignedManifest> served;
  if (key != nullptr && !signingRecord.empty()) {
    std::vector<std::string> platforms;
    if (!signedPlatforms(layout.releaseDir(id), platforms, error)) return false;
    for (const std::string& platform : platforms) {
      VouchedManifest found;
      if (!takeVouchedManifest(layout, id, platform, *key, signingRecord, true, found, error)) return false;
      served[platform] = found.signedAs;
    }
  }
  if (!switchCurrent(layout, id, error)) return false;
  if (served.empty()) return true;
  if (recordSigned(signingRecord, layout, served, error)) return true;
  error = "release " + id + " is current, but " + error;
  return false;
}

}  // namespace publish
