// The rule a rollout steers itself by, as a table of counts, and the reports it is fed: one per
// sender, release, outcome and day, from the time a share took effect.

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/publish/health_log.h"
#include "tools/publish/steering_rule.h"

namespace publish {
namespace {

TEST(SteeringRule, DecidesFromTheCounts) {
  const std::vector<double> plan = {1, 5, 25, 100};
  const UpdateOutcomes wellKnown = {10000, 100};  // 1 %: baseline 1.36 %, tolerance 2.54 %
  const UpdateOutcomes unknown = {49, 0};         // clean but few: assumed 2 %, tolerance 3.5 %
  const struct {
    const char* name;
    UpdateOutcomes candidate, atStep, current;
    long seconds;
    double share;
    SteerAction action;
    double newShare;
  } rows[] = {
      {"too few updates to judge, however bad", {49, 40}, {49, 40}, wellKnown, 7200, 5, SteerAction::hold, 5},
      {"surely worse: 5 of 50", {50, 5}, {50, 5}, wellKnown, 60, 5, SteerAction::halt, 0},
      {"worse but not surely: 4 of 50", {50, 4}, {50, 4}, wellKnown, 7200, 5, SteerAction::hold, 5},
      {"no worse, long enough, enough at the step", {50, 1}, {50, 1}, wellKnown, 3600, 5, SteerAction::advance, 25},
      {"above the tolerance at 90 %: 3 of 50", {50, 3}, {50, 3}, wellKnown, 7200, 5, SteerAction::hold, 5},
      {"a few failures of a small cohort by chance: 3 of 100", {100, 3}, {100, 3}, wellKnown, 7200, 1,
       SteerAction::advance, 5},
      {"one second short at the step", {500, 5}, {50, 1}, wellKnown, 3599, 5, SteerAction::hold, 5},
      {"one update short at the step", {500, 5}, {49, 0}, wellKnown, 7200, 5, SteerAction::hold, 5},
      {"the last step makes it current", {500, 5}, {200, 2}, wellKnown, 7200, 25, SteerAction::advance, 100},
      {"a share set by hand goes on to the plan's next", {500, 5}, {200, 2}, wellKnown, 7200, 10,
       SteerAction::advance, 25},
      {"halts against the assumed baseline: 6 of 50", {50, 6}, {50, 6}, unknown, 60, 1, SteerAction::halt, 0},
      {"holds against the assumed baseline: 5 of 50", {50, 5}, {50, 5}, unknown, 7200, 1, SteerAction::hold, 1},
      {"a halt needs no time at the step", {400, 120}, {50, 15}, wellKnown, 0, 1, SteerAction::halt, 0},
      {"a few more clean updates of the current release excuse nothing", {100, 20}, {100, 20}, {50, 0}, 7200, 1,
       SteerAction::halt, 0},
      {"reports against the current release raise the bar to 10 % at most", {100, 30}, {100, 30}, {60, 60}, 7200,
       1, SteerAction::halt, 0},
  };
  for (const auto& row : rows) {
    const SteeringDecision decision =
        decideStep({row.candidate, row.atStep, row.current, row.seconds, row.share, plan}, SteeringRule{});
    EXPECT_EQ(steerActionName(decision.action), std::string(steerActionName(row.action))) << row.name;
    EXPECT_EQ(decision.share, row.newShare) << row.name;
    EXPECT_FALSE(decision.reason.empty()) << row.name;
  }

  std::vector<double> parsed;
  for (const char* good : {"1,5,25,100", "0.5,100", "100"}) EXPECT_TRUE(parsePlan(good, parsed)) << good;
  for (const char* bad : {"5,1,100", "1,5", "0,100", "1,,100", "1,5,5,100", "101", "1,5,100,", "-1,100"}) {
    EXPECT_FALSE(parsePlan(bad, parsed)) << bad;
  }
}

TEST(SteeringRule, CountsEachSenderOncePerReleaseOutcomeAndDay) {
  testing_support::TempDir temp;
  const auto line = [](const std::string& address, const std::string& time, const std::string& query) {
    return address + " - - [" + time + "] \"GET /gis/update/health?platform=windows&release=r1&" + query +
           " HTTP/1.1\" 204 0 \"-\" \"-\"\n";
  };
  std::string log;
  for (int i = 0; i < 1000; ++i) log += line("10.9.9.9", "09/Dec/2026:10:00:00 +0000", "result=failed");
  log += line("10.9.9.9", "09/Dec/2026:10:00:01 +0000", "result=updated&early_exit=1&exit_code=3");
  log += line("10.9.9.9", "10/Dec/2026:00:00:00 +0000", "result=failed");  // the next day
  // One host's IPv6 network, however written, is one sender; another network is another.
  log += line("2001:db8:0:1::5", "09/Dec/2026:10:00:00 +0000", "result=updated&early_exit=0");
  log += line("2001:DB8:0:1:ffff:1:2:3", "09/Dec/2026:10:00:00 +0000", "result=updated&early_exit=0");
  log += line("2001:db8:0:2::5", "09/Dec/2026:10:00:00 +0000", "result=updated&early_exit=0");
  // 11:00 +0100 is 10:00 UTC, before `since`; a line from no address counts for nothing.
  log += line("10.0.0.1", "09/Dec/2026:11:59:59 +0100", "result=updated&early_exit=0");
  log += line("10.0.0.2", "09/Dec/2026:12:00:00 +0100", "result=updated&early_exit=0");
  log += line("-", "09/Dec/2026:12:00:00 +0000", "result=failed");
  // Outcomes a sender makes up count as one; an early exit only after an update; an impossible
  // time and a time past the window count for nothing.
  log += line("10.9.9.9", "09/Dec/2026:10:00:02 +0000", "result=failed&early_exit=1");
  log += line("10.0.0.3", "09/Dec/2026:10:00:00 +0000", "result=made_up_1");
  log += line("10.0.0.3", "09/Dec/2026:10:00:00 +0000", "result=made_up_2");
  log += line("10.0.0.4", "09/Dec/2026:99:00:00 +0000", "result=updated&early_exit=0");
  log += line("10.0.0.5", "01/Jan/2100:00:00:00 +0000", "result=failed");
  testing_support::writeFile(temp.path() / "access.log", log);

  std::vector<ReleaseHealth> releases;
  std::string error;
  const std::int64_t tenDecemberEndUtc = 1796947199;
  ASSERT_TRUE(readHealthLog(temp.path() / "access.log", {"r1"}, releases, error, {kWholeLog, tenDecemberEndUtc}))
      << error;
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(releases[0].total, (HealthCounts{8, 0, 5, 2, 1, 0}));
  // For steering each sender counts once over the whole reading: 10.9.9.9 tried and went wrong.
  EXPECT_EQ(releases[0].senders.updates, 5);
  EXPECT_EQ(releases[0].senders.bad, 1);
  const std::int64_t nineDecemberElevenUtc = 1796814000;
  ASSERT_TRUE(readHealthLog(temp.path() / "access.log", {"r1"}, releases, error,
                            {nineDecemberElevenUtc, tenDecemberEndUtc})) << error;
  EXPECT_EQ(releases[0].total, (HealthCounts{2, 0, 1, 1, 0, 0}));
  EXPECT_EQ(releases[0].senders.updates, 2);
  EXPECT_EQ(releases[0].senders.bad, 1);

  for (const auto& [address, sender] : std::vector<std::pair<std::string, std::string>>{
           {"192.0.2.7", "192.0.2.7"}, {"::ffff:192.0.2.7", "192.0.2.7"}, {"::1", "0:0:0:0::/64"},
           {"2001:0db8:0000:0001::", "2001:db8:0:1::/64"}, {"fe80::1:2:3:4:5", "fe80:0:0:1::/64"},
           {"1:2:3:4:5:6:7", ""}, {"1::2::3", ""}, {"12345::", ""}, {"unix:", ""}, {"", ""}}) {
    EXPECT_EQ(reportSender(address), sender) << address;
  }
}

}  // namespace
}  // namespace publish
