#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/publish/site_layout.h"

// When each share of a rollout took effect, kept in SITE/rollout-history.txt, one line per
// change that a publish, a share change or a steering step switched to:
//   <seconds since 1970, UTC> <platform> <candidate release id> <share>
// Steering reads how long the present share has been served; the health page marks the
// changes on its time axis. The file is beside `current`, so it is never served.
namespace publish {

struct ShareChange {
  std::int64_t time = 0;
  std::string platform;
  std::string candidate;
  double share = 0;
};

fs::path rolloutHistoryFile(const SiteLayout& layout);

// Appends one line. A change that is switched but not recorded only makes steering count the
// step from its next run, so a failure here is a warning, never a failed share change.
bool recordShareChange(const SiteLayout& layout, const ShareChange& change, std::string& error);

// The changes recorded, oldest first; lines that do not read as one are passed over. A site
// without the file has none.
std::vector<ShareChange> readRolloutHistory(const SiteLayout& layout);

std::int64_t secondsSinceEpoch();

}  // namespace publish
