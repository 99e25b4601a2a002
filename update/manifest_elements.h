#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "update/auto_rollback.h"
#include "update/rollout_offer.h"
#include "update/manifest_entry.h"

// The object elements of a manifest, read one at a time as the check reads them. An element
// with a "path" key is a file or link of the release; the keys that mean something only in the
// other elements ("candidate", "health", "auto_rollback", "rollout") are passed over inside it,
// as any unknown key is. An element without a "path" is a candidate's file, a request for health
// reports, the release's automatic rollback or the rollout's settings, tried in that order. After the first failure, the rest are passed over.
class ManifestElements {
 public:
  // With a key built in (signedManifest), the bytes of every file must be vouched for.
  ManifestElements(bool signedManifest, std::vector<ManifestEntry>& entries, std::vector<std::string>& warnings)
      : signedManifest_(signedManifest), entries_(entries), warnings_(warnings) {}

  // Reads one object element; its values may be taken.
  void read(nlohmann::json& element);
  bool failed() const { return !errorText_.empty(); }
  // True when the elements read make a valid manifest; else false with errorText.
  bool finish(std::string& errorText);

  // The candidate the manifest offers (rollout_offer.h), after a successful finish.
  RolloutOffer& rollout() { return rollout_; }
  // The release a health report names, when the manifest asks for reports; else empty.
  const std::string& healthRelease() const { return healthRelease_; }
  // The release's automatic rollback (auto_rollback.h), when the manifest asks for it.
  const AutoRollback& autoRollback() const { return autoRollback_; }

 private:
  // A candidate's file, a request for health reports, the automatic rollback or the rollout's
  // settings; false for none.
  bool readOtherElement(nlohmann::json& element);

  bool signedManifest_;
  std::vector<ManifestEntry>& entries_;
  std::vector<std::string>& warnings_;
  std::string errorText_;
  RolloutOffer rollout_;
  std::string healthRelease_;
  AutoRollback autoRollback_;
};
