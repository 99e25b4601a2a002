#include "tools/publish/rollout_steering.h"

#include <algorithm>
#include <optional>
#include <set>

#include "tools/publish/health_log.h"
#include "tools/publish/release_rollout.h"
#include "tools/publish/rollout_history.h"

namespace publish {

namespace {

UpdateOutcomes outcomesOf(const std::vector<ReleaseHealth>& releases, const std::string& release) {
  const auto found = std::find_if(releases.begin(), releases.end(),
                                  [&](const ReleaseHealth& health) { return health.release == release; });
  return found == releases.end() ? UpdateOutcomes{} : updateOutcomes(found->total);
}

// When the present share of the candidate took effect, from the history; unrecorded (a site
// older than the history, a record that failed), the step is counted from now and recorded.
void findStepStart(const SiteLayout& layout, SteeringStep& step, std::int64_t now) {
  const std::vector<ShareChange> history = readRolloutHistory(layout);
  const auto last = std::find_if(history.rbegin(), history.rend(),
                                 [&](const ShareChange& change) { return change.platform == step.platform; });
  if (last != history.rend() && last->candidate == step.candidate && last->share == step.share) {
    step.stepStart = std::min(last->time, now);
    return;
  }
  step.stepStart = now;
  step.stepStartRecorded = false;
  std::string error;
  if (!recordShareChange(layout, {now, step.platform, step.candidate, step.share}, error)) step.warning = error;
}

}  // namespace

bool steerRollout(const SteeringRequest& request, SteeringStep& step, std::string& error) {
  const SiteLayout layout{request.change.site};
  std::vector<std::string> platforms;
  if (!currentReleaseId(layout, step.servedId, error)) return false;
  if (step.servedId.empty()) {
    error = "no current release in " + layout.site.string();
    return false;
  }
  const fs::path served = layout.releaseDir(step.servedId);
  if (!rolloutPlatforms(served, platforms, error)) return false;
  if (platforms.size() > 1) {
    error = "release " + step.servedId + " offers candidates for several platforms; steer them by hand with --rollout";
    return false;
  }
  if (platforms.empty()) return true;
  std::optional<RolloutState> state;
  if (!readRollout(served, platforms.front(), state, error)) return false;
  step.platform = platforms.front();
  step.candidate = state->release;
  step.share = state->share;
  if (step.share == 0) return true;
  step.currentRelease = healthReleaseOf(manifestFile(served, step.platform));
  if (step.currentRelease.empty()) {
    error = manifestFile(served, step.platform).string() +
            " asks launchers for no health reports; steering needs them (publish with --health-reports)";
    return false;
  }

  const std::int64_t now = secondsSinceEpoch();
  findStepStart(layout, step, now);
  std::vector<std::string> ids;
  if (!listReleaseIds(layout, ids, error)) return false;
  const std::set<std::string> held(ids.begin(), ids.end());
  std::vector<ReleaseHealth> whole, atStep;
  if (!readHealthLog(request.accessLog, held, whole, error) ||
      !readHealthLog(request.accessLog, held, atStep, error, step.stepStart)) {
    return false;
  }
  step.input = {outcomesOf(whole, step.candidate), outcomesOf(atStep, step.candidate),
                outcomesOf(whole, step.currentRelease), now - step.stepStart, step.share, request.plan};
  step.decision = decideStep(step.input, request.rule);
  if (step.decision.action == SteerAction::hold) return true;

  PublishRequest change = request.change;
  change.rolloutShare = step.decision.share;
  change.expectedCandidate = step.candidate;
  change.expectedShare = step.share;
  if (!changeRollout(change, step.run, error)) return false;
  for (ShareChange shareChange : step.run.shareChanges) {
    shareChange.time = secondsSinceEpoch();
    if (!recordShareChange(layout, shareChange, error)) step.warning = error;
  }
  return true;
}

}  // namespace publish
