#include "tools/publish/steering_rule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/publish/release_rollout.h"

namespace publish {

namespace {

double rateOf(const UpdateOutcomes& outcomes) {
  return outcomes.updates == 0 ? 0.0 : std::min(1.0, double(outcomes.bad) / double(outcomes.updates));
}

// The Wilson score interval's centre and half width.
void wilson(long bad, long n, double z, double& centre, double& halfWidth) {
  const double p = std::min(1.0, double(bad) / double(n));
  const double z2n = z * z / double(n);
  const double denominator = 1.0 + z2n;
  centre = (p + z2n / 2.0) / denominator;
  halfWidth = z * std::sqrt(p * (1.0 - p) / double(n) + z2n / (4.0 * double(n))) / denominator;
}

std::string percent(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", rate * 100.0);
  return text;
}

std::string shareText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g %%", share);
  return text;
}

}  // namespace

double wilsonLower(long bad, long n, double z) {
  if (n <= 0) return 0.0;
  double centre = 0, halfWidth = 0;
  wilson(bad, n, z, centre, halfWidth);
  return std::max(0.0, centre - halfWidth);
}

double wilsonUpper(long bad, long n, double z) {
  if (n <= 0) return 1.0;
  double centre = 0, halfWidth = 0;
  wilson(bad, n, z, centre, halfWidth);
  return std::min(1.0, centre + halfWidth);
}

SteeringDecision decideStep(const SteeringInput& input, const SteeringRule& rule) {
  SteeringDecision decision;
  decision.share = input.share;
  const UpdateOutcomes& candidate = input.candidate;
  decision.candidateRate = rateOf(candidate);
  decision.candidateLower = wilsonLower(candidate.bad, candidate.updates, rule.z);
  decision.baseline = std::min(wilsonUpper(input.current.bad, input.current.updates, rule.z),
                               std::max(rule.assumedBaseline, rateOf(input.current)));
  decision.tolerance =
      std::min(decision.baseline * rule.toleranceRatio + rule.toleranceSlack, rule.maxTolerance);
  const std::string against = "the tolerance " + percent(decision.tolerance);

  if (candidate.updates < rule.minUpdates) {
    decision.reason = "the candidate was tried by " + std::to_string(candidate.updates) + ", fewer than " +
                      std::to_string(rule.minUpdates) + " to judge it by";
    return decision;
  }
  if (decision.candidateLower > decision.tolerance) {
    decision.action = SteerAction::halt;
    decision.share = 0;
    decision.reason = "the candidate does worse: its rate's lower bound " + percent(decision.candidateLower) +
                      " is above " + against;
    return decision;
  }
  // Judged by a looser bound than a halt: a small cohort whose last few installations went
  // wrong by chance must not hold its step for ever.
  const double looseLower = wilsonLower(candidate.bad, candidate.updates, rule.advanceZ);
  if (looseLower > decision.tolerance) {
    decision.reason = "the candidate's rate " + percent(decision.candidateRate) + " (lower bound " +
                      percent(looseLower) + " at 90 %) is above " + against + ", but not surely";
    return decision;
  }
  const auto next = std::upper_bound(input.plan.begin(), input.plan.end(), input.share);
  if (next == input.plan.end()) {
    decision.reason = "the plan has no share above " + shareText(input.share);
    return decision;
  }
  if (input.candidateAtStep.updates < rule.minUpdates) {
    decision.reason = "the candidate was tried by " + std::to_string(input.candidateAtStep.updates) +
                      " at this step, fewer than " + std::to_string(rule.minUpdates);
    return decision;
  }
  if (input.secondsAtStep < rule.minStepSeconds) {
    decision.reason = "this step has been served " + std::to_string(input.secondsAtStep) + " s, less than " +
                      std::to_string(rule.minStepSeconds) + " s";
    return decision;
  }
  decision.action = SteerAction::advance;
  decision.share = *next;
  decision.reason = "the candidate does no worse: its rate " + percent(decision.candidateRate) + " (lower bound " +
                    percent(looseLower) + " at 90 %) is within " + against;
  return decision;
}

const char* steerActionName(SteerAction action) {
  switch (action) {
    case SteerAction::advance: return "advance";
    case SteerAction::halt: return "halt";
    case SteerAction::hold: break;
  }
  return "hold";
}

bool parsePlan(const std::string& text, std::vector<double>& plan) {
  plan.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    double share = 0;
    if (!parseShare(text.substr(start, end - start), share) || share <= 0 ||
        (!plan.empty() && share <= plan.back())) {
      return false;
    }
    plan.push_back(share);
    if (end == text.size()) break;
    start = end + 1;
  }
  return plan.back() == 100;
}

}  // namespace publish
