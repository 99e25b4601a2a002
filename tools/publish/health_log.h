#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/rollout_history.h"
#include "tools/publish/steering_rule.h"

// The health reports that launchers sent to a site (GET /gis/update/health?…), read back from
// the web server's access log in nginx's default "combined" format, counted per release and
// per day.
namespace publish {

// checks, up-to-date runs, updates, failed updates, early exits after an update, releases taken
// back by a launcher's automatic rollback (a report of its own beside the run's, so no check).
using HealthCounts = std::array<long, 6>;
inline constexpr const char* kHealthCountNames[] = {"checks", "up_to_date", "updated",
                                                    "failed", "early_exits", "rolled_back"};

struct ReleaseHealth {
  std::string release;
  HealthCounts total = {};
  std::map<std::string, HealthCounts> byDay;  // "YYYY-MM-DD" (the log's own time) -> counts
  // What steering judges by, each sender once over the whole reading: the senders that tried
  // the release (updated to it, failed to, or took it back) and those among them for whom it
  // went wrong (a failed update, an early exit, a rollback). A sender is an installation as far
  // as addresses tell installations apart.
  UpdateOutcomes senders;
};

// The reports counted: those dated from `since` to `until` (seconds since 1970, UTC).
inline constexpr std::int64_t kWholeLog = std::numeric_limits<std::int64_t>::min();
struct HealthWindow {
  std::int64_t since = kWholeLog;
  std::int64_t until = std::numeric_limits<std::int64_t>::max();
};
// kestrun-publish reads up to an hour past its own clock: a line dated further ahead (a wrong
// clock, a forged log) would otherwise count again at every later step.
inline constexpr std::int64_t kClockSlackSeconds = 3600;

// The releases named by the reports of `log`, sorted by release id. Lines that are no report,
// or name a release that is not in `held` (the releases the site keeps and offers, candidates
// included), are passed over: anyone can send a report, and made-up ids must cost nothing. So
// is a report outside `window`, and one whose client address already sent the same outcome for
// the same release that day (an IPv6 address counts by its /64 network, which one host
// commonly holds whole): one sender cannot outweigh a fleet. Outcomes are up_to_date, updated
// with or without an early exit, failed, cancelled, rolled_back, and anything else as one.
bool readHealthLog(const std::filesystem::path& log, const std::set<std::string>& held,
                   std::vector<ReleaseHealth>& releases, std::string& error, const HealthWindow& window = {});

// The client address as reports are counted by: an IPv4 address as it stands, an IPv6 address
// as its /64 network ("2001:db8:0:1::/64"); empty when it is neither.
std::string reportSender(const std::string& address);

// A table for the terminal, one line per release.
std::string healthText(const std::vector<ReleaseHealth>& releases);
// {"releases":[{"release":…,"checks":…,"up_to_date":…,"updated":…,"failed":…,"early_exits":…,
//   "rolled_back":…}]}
std::string healthJson(const std::vector<ReleaseHealth>& releases);
// One self-contained page: a chart per count over the days (the last kChartDays of the log), one
// line per release, each share change of `changes` within those days marked on the time axis
// (a halt in red), and the table.
inline constexpr std::size_t kChartDays = 366;
std::string healthHtml(const std::vector<ReleaseHealth>& releases, const std::vector<ShareChange>& changes = {});

}  // namespace publish
