#include "tools/publish/rollout_history.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/publish/release_rollout.h"

namespace publish {

fs::path rolloutHistoryFile(const SiteLayout& layout) { return layout.site / "rollout-history.txt"; }

bool recordShareChange(const SiteLayout& layout, const ShareChange& change, std::string& error) {
  char share[32];
  std::snprintf(share, sizeof share, "%.6g", change.share);
  std::ofstream out(rolloutHistoryFile(layout), std::ios::binary | std::ios::app);
  out << change.time << ' ' << change.platform << ' ' << change.candidate << ' ' << share << '\n';
  out.close();
  if (out) return true;
  error = "cannot write " + rolloutHistoryFile(layout).string();
  return false;
}

std::vector<ShareChange> readRolloutHistory(const SiteLayout& layout) {
  std::vector<ShareChange> changes;
  std::ifstream in(rolloutHistoryFile(layout), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ShareChange change;
    std::string share, rest;
    if (fields >> change.time >> change.platform >> change.candidate >> share && !(fields >> rest) &&
        isPlatformName(change.platform) && isReleaseId(change.candidate) && parseShare(share, change.share)) {
      changes.push_back(change);
    }
  }
  return changes;
}

std::int64_t secondsSinceEpoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace publish
