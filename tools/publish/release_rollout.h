#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The launchers' bounds and defaults of the settings (kMaxWatchSeconds, kDefaultFailedStarts…).
#include "wire/rollback_settings.h"

// A candidate release for a share of installations, kept beside the current release of a
// platform inside one published release:
//   <platform>-candidate/          the candidate's files, served under that platform name
//   <platform>-candidate.objects/  its compressed copies and patches (patches from <platform>)
//   <platform>-candidate.json      its own manifest, which becomes <platform>.json at 100 %
//   <platform>.json                the current release's manifest, followed by the rollout
//                                  element and one "candidate" element per candidate file
// Launchers that know nothing of rollouts pass over elements without a "path", so they keep
// getting the current release; a signature of <platform>.json covers the candidate, its share
// and its salt.
namespace publish {

namespace fs = std::filesystem;

struct RolloutState {
  std::string release;  // the candidate's release id
  double share = 0;     // percent of installations, 0 (halted) to 100
  std::string salt;     // 64 hexadecimal characters, drawn for each candidate
};

std::string candidatePlatform(const std::string& platform);

// A share as the command line gives it: a number from 0 to 100 with up to 4 decimals.
bool parseShare(const std::string& text, double& share);

// 32 bytes from the system's random source, in hexadecimal.
bool drawSalt(std::string& salt, std::string& error);

// The rollout that the manifest text `json` offers, if any; false with a reason when damaged.
bool rolloutOf(const std::string& json, std::optional<RolloutState>& state, std::string& reason);

// The rollout of <platform>.json in `release`, if it offers one.
bool readRollout(const fs::path& release, const std::string& platform, std::optional<RolloutState>& state,
                 std::string& error);

// The platforms of `release` whose manifest offers a candidate, sorted.
bool rolloutPlatforms(const fs::path& release, std::vector<std::string>& platforms, std::string& error);

// The manifest text that offers the candidate: the elements of `currentJson` that are entries
// of the current release, the rollout element, then every element of `candidateJson`, each
// wrapped as {"candidate": …}.
bool rolloutManifest(const std::string& currentJson, const RolloutState& state, const std::string& candidateJson,
                     std::string& json, std::string& error);

// Whether the manifest `offerJson` offers exactly the entries of the candidate's own manifest
// `candidateJson`: a share change merges the two again, and must not pair an offer with
// another candidate's files.
bool offersCandidate(const std::string& offerJson, const std::string& candidateJson);

// `json` with one element {"health":{"release":ID}} in place of any earlier one: the site asks
// launchers for health reports, naming release ID (launchers in a candidate's cohort name the
// candidate instead).
bool withHealthRequest(const std::string& json, const std::string& release, std::string& out, std::string& error);

// Whether a manifest asks for health reports.
bool asksForHealth(const std::string& json);
// The release that the manifest file `manifest` has its launchers name in health reports;
// empty when it asks for none (or cannot be read).
std::string healthReleaseOf(const fs::path& manifest);

// What an element {"auto_rollback":{…}} asks of launchers: keep the files an update replaces,
// watch the first starts of the new release, and when its program fails at start, put the
// previous files back and refuse release `release` from then on. A setting left out is the
// launchers' default.
struct AutoRollback {
  std::string release;
  std::optional<int> windowSeconds;    // a start that ends within it failed: 1 to 60, default 5
  std::optional<int> probationStarts;  // starts watched: 1 to 20, default 3
  std::optional<int> failedStarts;     // failed starts that take it back: 1 to probationStarts, default 2
};

// `json` with one element {"auto_rollback":{"release":ID,…}} last, in place of any earlier one,
// naming only the settings that `rollback` holds (launchers in a candidate's cohort name the
// candidate instead).
bool withAutoRollback(const std::string& json, const AutoRollback& rollback, std::string& out, std::string& error);

// The automatic rollback a manifest asks for, if any; a setting that is no whole number in its
// range is left to the launchers' default.
std::optional<AutoRollback> autoRollbackOf(const std::string& json);

// The entries of the files that the manifest `file` lists for its own platform (its elements
// with a "path"), as one text; empty when there is no such manifest.
std::string listedFiles(const fs::path& file);

// Removes the items of `platform` (its tree, manifest, signature and objects) from a release
// being written. They may be hard links shared with other releases: only the names go.
bool removePlatformItems(const fs::path& release, const std::string& platform, std::string& error);

}  // namespace publish
