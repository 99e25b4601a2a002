#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "update/manifest_entry.h"

// A candidate release that a manifest offers to a share of installations. It travels inside the
// manifest, as elements without a "path" that launchers knowing nothing of rollouts pass over:
//   {"rollout":{"release":"20261208-093000-001","share":25,"salt":"<64 hex>"}}
//   {"candidate":{"path":"Vardel.exe","size":…,"mtime":…,"sha256":…}}   one per file
// The candidate's files are served under the platform name platform + "-candidate".
struct RolloutOffer {
  bool present = false;
  std::string release;  // the candidate's release id, for the log
  double share = 0;     // percent of installations, 0 to 100
  std::string salt;     // 64 hexadecimal characters, new for every candidate
  std::vector<ManifestEntry> entries;  // the candidate's files, as a manifest lists them
};

// Whether `text` can be a release id: 1 to 64 of [A-Za-z0-9_.-].
bool isReleaseIdText(const std::string& text);

// The platform name that serves a candidate's files.
std::string candidatePlatformOf(const std::string& platform);

// Reads the value of a "rollout" element into `offer`; false with a reason (for the error
// text) when it is not one: a release id of [A-Za-z0-9_.-], a number from 0 to 100, a salt of
// 64 hexadecimal characters.
bool readRolloutSettings(const nlohmann::json& value, RolloutOffer& offer, std::string& reason);

// The share as the log shows it: "0.5", "25", "99.5".
std::string shareText(double share);
