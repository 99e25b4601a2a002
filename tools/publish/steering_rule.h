#pragma once

#include <string>
#include <vector>

// The rule by which a rollout steers itself: from the health reports of the candidate and of
// the current release, one step of a plan of shares is taken, held, or the candidate halted.
//
// A release's rate is the share of the installations that tried it (updated to it, failed to,
// or took it back) for which it went wrong (a failed update, an early exit after the update, an
// automatic rollback), each counted once. The candidate may exceed the current release by a
// tolerance:
//   baseline  = min(Wilson upper bound (z) of the current release's rate,
//                   max(assumedBaseline, its observed rate))
//   tolerance = min(baseline * toleranceRatio + toleranceSlack, maxTolerance)
// The upper bound keeps a well-measured baseline from being too strict; the cap at the
// observed rate (at least the assumed one) keeps a current release with few reports from
// excusing everything, and maxTolerance keeps reports against the current release from
// raising the bar without end.
// - halt:    the candidate has at least minUpdates updates in all, and the Wilson lower bound
//            of its rate (one-sided, z) lies above the tolerance: it does worse, with
//            confidence 1 - alpha;
// - advance: not halted, the candidate has at least minUpdates updates since its share last
//            changed, that share has been served at least minStepSeconds, the Wilson lower
//            bound of its rate at advanceZ is within the tolerance (its reports are consistent
//            with a rate within it), and the plan has a larger share;
// - hold:    anything else.
namespace publish {

// What one release's health reports say over some time.
struct UpdateOutcomes {
  long updates = 0;  // installations that tried the release
  long bad = 0;      // those for which it went wrong
};

struct SteeringRule {
  double z = 3.09;         // one-sided 99.9 %: surely worse
  double advanceZ = 1.28;  // one-sided 90 %: not worse beyond doubt
  long minUpdates = 50;
  long minStepSeconds = 3600;
  double toleranceRatio = 1.5;
  double toleranceSlack = 0.005;
  double assumedBaseline = 0.02;
  double maxTolerance = 0.10;
};

enum class SteerAction { hold, advance, halt };

struct SteeringInput {
  UpdateOutcomes candidate;        // since the candidate was rolled out
  UpdateOutcomes candidateAtStep;  // since its share last changed
  UpdateOutcomes current;          // the current release, over the whole log
  long secondsAtStep = 0;          // how long the present share has been served
  double share = 0;                // the present share, percent
  std::vector<double> plan;        // the shares to take, ascending, the last one 100
};

struct SteeringDecision {
  SteerAction action = SteerAction::hold;
  double share = 0;            // the share it leaves: the present one, the plan's next, or 0
  double candidateRate = 0;    // bad / updates of the candidate, 0 without updates
  double candidateLower = 0;   // its Wilson lower bound
  double baseline = 0;         // the current release's bound, or the assumed one
  double tolerance = 0;
  std::string reason;          // one sentence: why
};

// The Wilson score bounds of a proportion `bad` of `n` at z (0 and 1 when n is 0).
double wilsonLower(long bad, long n, double z);
double wilsonUpper(long bad, long n, double z);

SteeringDecision decideStep(const SteeringInput& input, const SteeringRule& rule);

const char* steerActionName(SteerAction action);  // "hold", "advance", "halt"

// A plan as the command line gives it: "1,5,25,100", ascending shares from above 0 to 100,
// the last one 100.
bool parsePlan(const std::string& text, std::vector<double>& plan);

}  // namespace publish
