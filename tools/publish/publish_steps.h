#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/publish/release_copy.h"
#include "tools/publish/release_objects.h"
#include "tools/publish/release_rollout.h"
#include "tools/publish/release_signing.h"
#include "tools/publish/rollout_history.h"
#include "tools/publish/site_layout.h"
#include "tools/publish/site_lock.h"
#include "tools/release_manifest/release_manifest.h"
#include "trust/manifest_signature.h"

// The steps of a publish, in the order publishRelease runs them. Until sealRelease nothing
// is visible under a release id; until switchCurrent nothing is served. A step that writes
// files for the new release (a signature beside the manifest, say) goes between
// writeManifest and sealRelease: whatever it puts into the partial release is switched
// together with the rest.
namespace publish {

struct PublishRequest {
  fs::path source;
  fs::path site;
  std::string platform;
  int keep = 5;                 // finished releases kept, besides the current one
  bool preferHardLinks = true;  // false: always copy
  // Set: the manifest carries every file's sha256 and is signed with the site's next serial.
  std::optional<ManifestSecretKey> signingKey;
  int expiresInDays = 0;          // with a key: the signature expires this many days after it is made
  std::uint64_t serialFloor = 0;  // with a key: the next serial is above this one at least
  // With a key: the signer's record of what it signed last (signing_record.h), updated by
  // every signed publish; empty: none is kept, and nothing can be signed again.
  fs::path signingRecord;
  // resignRelease: sign this kept release instead of the current one, whatever the record says.
  std::string resignFrom;
  // Compressed copies of the files and patches from the files of this many kept releases
  // (release_objects.h); false: the manifest lists no objects.
  bool objects = true;
  int patchBases = 3;
  // Set with a source: the source is published as the candidate of `platform` for this share
  // of installations (percent), beside the current release (release_rollout.h). Without a
  // source (changeRollout): the new share of every candidate; 100 makes it the current release.
  std::optional<double> rolloutShare;
  // The manifest asks launchers for health reports (release_rollout.h, withHealthRequest).
  bool healthReports = false;
  // Set: the manifest asks launchers to take the release back when its program fails at start
  // (release_rollout.h, withAutoRollback). The publish names the release; only the settings count.
  std::optional<AutoRollback> autoRollback;
  // Called once when another publisher holds the site, before this one waits for it.
  std::function<void()> waitingForSite;
};

struct PublishRun {
  SiteLayout layout;
  std::string id;               // the new release
  std::string previousId;       // what `current` pointed at before, or empty
  fs::path partial;             // where the new release is written
  release_manifest::ReleaseListing source;
  CopyCounts counts;
  ObjectCounts objects;
  std::uint64_t serial = 0;     // with a signing key: the serial the new release is signed with
  // With a signing key: platform -> the manifest bytes this run signed, as the record keeps them.
  std::map<std::string, SignedManifest> signedNow;
  // With a signing key: platform -> the manifest of the site this run builds on, as checked.
  std::map<std::string, VouchedManifest> vouched;
  std::vector<std::string> resigned;  // resignRelease: the platforms signed again; changeRollout: changed
  // A rollout publish or changeRollout: the shares switched to (their time is left 0 for the
  // caller, which records them once the run succeeded; rollout_history.h).
  std::vector<ShareChange> shareChanges;
  // Taken by prepareSite (unless the caller took it first, to read the site before the run)
  // and held as long as the run lives, so through pruning as well.
  SiteLock lock;
};

// Lists the source and refuses it when an entry breaks the release rules, when it holds
// special files or nothing at all, or when source and site overlap. Every refused entry
// is named in `error`, one per line. With a key or objects, every file is hashed here, before
// anything is staged into the site: the manifest carries these hashes.
bool checkSource(const PublishRequest& request, PublishRun& run, std::string& error);

// Creates the site's folders and locks the site (waiting while another publisher holds it),
// removes what killed runs left behind, picks the new id and, with a signing key, the serial.
bool prepareSite(const PublishRequest& request, PublishRun& run, std::string& error);

// Writes the release's files into the partial release: the other platforms of the current
// release, then the source tree. Files are read through descriptors that follow no link, so
// an entry that became a link or special file since checkSource is refused, never followed.
bool stageRelease(const PublishRequest& request, PublishRun& run, std::string& error);

// Lists the staged tree of the platform and refuses it, as checkSource refuses a source, when
// an entry breaks the release rules or when its entries and links are not those of the
// checked source: the manifest and its signature cover only what was checked.
bool checkStagedRelease(const PublishRequest& request, const PublishRun& run, std::string& error);

// Writes the platform's objects (release_objects.h) and its manifest, generated from the
// checked source's listing and hashes; with a signing key, with every file's hash and with
// its signature beside it, once the serial is kept in SITE/serial. Without a key, only the entries with
// objects carry their file's hash (the launcher checks what it decoded against it).
bool writeManifest(const PublishRequest& request, PublishRun& run, std::string& error);

// Renames the finished partial release to its id.
bool sealRelease(const PublishRun& run, std::string& error);

// Points `current` at the release `id` in one rename. The point of no return of a publish.
bool switchCurrent(const SiteLayout& layout, const std::string& id, std::string& error);

// Removes finished releases beyond the newest `keep`; the current one always stays.
bool pruneReleases(const SiteLayout& layout, int keep, std::vector<std::string>& removed,
                   std::string& error);

// The whole publish. On success `run.id` names the release now current.
bool publishRelease(const PublishRequest& request, PublishRun& run, std::string& error);

// Serves the current release again under a new id, signed anew: its files hard-linked (or
// copied), every manifest that has a signature kept byte for byte and signed with the next
// serial and the request's expiry; then sealed and switched like a publish. Each signed
// manifest must be the one the signing record names as signed last for the site, so that a
// host that pointed `current` at an older release cannot have it signed anew; `resignFrom`
// names a kept release to sign instead, on the operator's word. The record then names the new
// signatures. Launchers keep downloading from the old release, which stays until it is pruned.
bool resignRelease(const PublishRequest& request, PublishRun& run, std::string& error);

// Serves the current release again under a new id with the share of every candidate it offers
// changed to request.rolloutShare: 0 halts it (every installation is offered the current
// release), 100 makes it the current release of its platform. The candidate and its salt stay,
// so raising the share only adds installations. With a key, each changed manifest is signed
// with the next serial (a signed site needs one); then sealed, switched and recorded like a
// publish.
bool changeRollout(const PublishRequest& request, PublishRun& run, std::string& error);

// Points `current` at an existing finished release, with the site locked meanwhile (`waiting`
// as for PublishRequest::waitingForSite). With a key and a signing record, every signed
// manifest of the release must verify with the key, and the record then names them as what
// was signed last, so that the daily --resign goes on from the release rolled back to.
bool rollBack(const SiteLayout& layout, const std::string& id, std::string& error,
              const std::function<void()>& waiting = {}, const ManifestSecretKey* key = nullptr,
              const fs::path& signingRecord = {});

}  // namespace publish
