#pragma once

#include <string>
#include <vector>

#include "update/auto_rollback.h"
#include "update/rollout_offer.h"
#include "update/manifest_entry.h"

// One reading of a manifest body: its outcome and all it leaves behind.
struct ManifestReading {
  bool ok = false;
  std::vector<ManifestEntry> entries;
  std::vector<std::string> warnings;
  std::string errorText;
  RolloutOffer rollout;
  std::string healthRelease;
  AutoRollback autoRollback;
};

// A tree of the whole document, then each element: how the check read before it streamed.
ManifestReading readManifestAsTree(const std::string& body, bool signedManifest);

// Sets every reader of a manifest body side by side: the tree, the streaming ManifestReader and
// the fast reader (which may leave a body to the others, but must agree on any it takes).
// Gives the first way they differ, or empty when they agree on the outcome, the text, the
// warnings, the entries, the rollout and the health release. `tree` receives the tree's reading.
std::string manifestReadersDisagree(const std::string& body, bool signedManifest, ManifestReading& tree);
