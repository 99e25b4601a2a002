#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/publish_steps.h"
#include "tools/publish/steering_rule.h"

// One step of a rollout that steers itself (steering_rule.h), meant to run from a timer: reads
// the site's candidate, the health reports of an access log and how long the present share has
// been served, decides, and carries the decision out as a share change does. Run again on the
// same log it decides nothing new: a changed share starts a new step with no reports yet, a
// halted candidate and a finished rollout have nothing left to steer.
namespace publish {

struct SteeringRequest {
  fs::path accessLog;
  std::vector<double> plan;
  SteeringRule rule;
  // The share change, as --rollout without --source makes it (site, key, expiry, keep…);
  // rolloutShare is set by the step.
  PublishRequest change;
};

struct SteeringStep {
  // Empty when the site offers no candidate: nothing to steer; nor is there with a share of 0
  // (a halted candidate goes on only by hand).
  std::string platform;
  std::string servedId;          // the site's current release when the step began
  std::string candidate;         // the candidate's release id
  std::string currentRelease;    // the release the current part's reports name
  double share = 0;              // the share before the step
  std::int64_t stepStart = 0;    // when that share took effect (seconds since 1970)
  bool stepStartRecorded = true; // false: no record of it, counted from this step on
  SteeringInput input;
  SteeringDecision decision;
  PublishRun run;                // the share change, when the decision was one
  std::string warning;           // a change made but not recorded in the history
};

// Takes the site lock (held by step.run until the step ends), decides, and changes the share.
bool steerRollout(const SteeringRequest& request, SteeringStep& step, std::string& error);

// The releases whose reports count: those the site keeps, and those that the current release's
// manifests name (in their health request and as candidate), which pruning may have removed.
bool reportedReleases(const SiteLayout& layout, std::set<std::string>& releases, std::string& error);

}  // namespace publish
