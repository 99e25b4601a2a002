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
  return found == releases.end() ? UpdateOutcomes{} : found->senders;
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

bool reportedReleases(const SiteLayout& layout, std::set<std::string>& releases, std::string& error) {
  std::vector<std::string> ids;
  std::string current;
  std::vector<std::string> platforms;
  if (!listReleaseIds(layout, ids, error) || !currentReleaseId(layout, current, error)) return false;
  releases = std::set<std::string>(ids.begin(), ids.end());
  if (current.empty()) return true;
  // Every share change and re-signing serves a new release, and pruning removes old ones,
  // while launchers still name the releases the served manifests name.
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(layout.releaseDir(current), ec)) {
    const std::string name = item.path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
      const std::string named = healthReleaseOf(item.path());
      if (!named.empty()) releases.insert(named);
    }
  }
  if (!rolloutPlatforms(layout.releaseDir(current), platforms, error)) return false;
  for (const std::string& platform : platforms) {
    std::optional<RolloutState> state;
    if (!readRollout(layout.releaseDir(current), platform, state, error)) return false;
    releases.insert(state->release);
  }
  return true;
}

bool steerRollout(const SteeringRequest& request, SteeringStep& step, std::string& error) {
  const SiteLayout layout{request.change.site};
  std::vector<std::string> platforms;
  // Held from the first read of the site to the share change and its record, so that no
  // publish comes between what the step read and what it changes.
  if (!step.run.lock.acquire(layout, request.change.waitingForSite, error) ||
      !currentReleaseId(layout, step.servedId, error)) {
    return false;
  }
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
  std::set<std::string> held;
  std::vector<ReleaseHealth> whole, atStep;
  const std::int64_t until = now + kClockSlackSeconds;
  if (!reportedReleases(layout, held, error) || !readHealthLog(request.accessLog, held, whole, error, {kWholeLog, until}) ||
      !readHealthLog(request.accessLog, held, atStep, error, {step.stepStart, until})) {
    return false;
  }
  step.input = {outcomesOf(whole, step.candidate), outcomesOf(atStep, step.candidate),
                outcomesOf(whole, step.currentRelease), now - step.stepStart, step.share, request.plan};
  step.decision = decideStep(step.input, request.rule);
  if (step.decision.action == SteerAction::hold) return true;

  PublishRequest change = request.change;
  change.rolloutShare = step.decision.share;
  if (!changeRollout(change, step.run, error)) return false;
  for (ShareChange shareChange : step.run.shareChanges) {
    shareChange.time = secondsSinceEpoch();
    if (!recordShareChange(layout, shareChange, error)) step.warning = error;
  }
  return true;
}

}  // namespace publish
