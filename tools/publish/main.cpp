// kestrun-publish: publishes a release tree into a site that a static web server (or
// kestrun-release-server) serves to the launcher, switching the served release atomically.
//
//   kestrun-publish --source DIR --site SITE --platform NAME [--keep N] [--copy] [--require-signed]
//                   [--patches N | --no-objects] [--sign-key FILE [--expires DAYS] [--serial-floor N]]
//                   [--rollout PERCENT] [--health-reports]
//                   [--auto-rollback [--watch-seconds N] [--probation-starts N] [--failed-starts N]]
//   kestrun-publish --site SITE --rollout PERCENT [--sign-key FILE [--expires DAYS] [--serial-floor N]] [--keep N]
//   kestrun-publish --site SITE --health ACCESS_LOG [--json] [--html FILE]
//   kestrun-publish --site SITE --steer ACCESS_LOG --plan SHARES [--min-updates N] [--step-seconds N]
//                   [--sign-key FILE --expires DAYS [--serial-floor N]] [--keep N] [--json]
//   kestrun-publish --site SITE --resign --sign-key FILE [--rollback-to ID] [--expires DAYS] [--serial-floor N]
//                   [--keep N]
//   kestrun-publish --site SITE --rollback ID [--sign-key FILE]
//   kestrun-publish --site SITE --list
//
// See docs/deployment.md.

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/publish/health_log.h"
#include "tools/publish/pe_signature.h"
#include "tools/publish/publish_steps.h"
#include "tools/publish/release_rollout.h"
#include "tools/publish/release_signing.h"
#include "tools/publish/rollout_steering.h"

namespace {

namespace fs = std::filesystem;

const char* const kSteerOptions =
    "--steer takes only --site, --plan, --min-updates, --step-seconds, --sign-key, --expires, --serial-floor, "
    "--keep and --json";
const char* const kResignOptions =
    "--resign takes only --site, --sign-key, --rollback-to, --expires, --serial-floor and --keep";

void printUsage(std::ostream& out) {
  out << "usage: kestrun-publish --source DIR --site SITE --platform NAME [--keep N] [--copy] [--require-signed]\n"
         "                       [--patches N | --no-objects] [--sign-key FILE [--expires DAYS] [--serial-floor N]]\n"
         "                       [--rollout PERCENT] [--health-reports]\n"
         "                       [--auto-rollback [--watch-seconds N] [--probation-starts N] [--failed-starts N]]\n"
         "       kestrun-publish --site SITE --rollout PERCENT [--sign-key FILE [--expires DAYS] [--serial-floor N]]\n"
         "                       [--keep N]\n"
         "       kestrun-publish --site SITE --health ACCESS_LOG [--json] [--html FILE]\n"
         "       kestrun-publish --site SITE --steer ACCESS_LOG --plan SHARES [--min-updates N] [--step-seconds N]\n"
         "                       [--sign-key FILE --expires DAYS [--serial-floor N]] [--keep N] [--json]\n"
         "       kestrun-publish --site SITE --resign --sign-key FILE [--rollback-to ID] [--expires DAYS]\n"
         "                       [--serial-floor N] [--keep N]\n"
         "       kestrun-publish --site SITE --rollback ID [--sign-key FILE]\n"
         "       kestrun-publish --site SITE --list\n"
         "  --source DIR      the release, laid out as installed\n"
         "  --site SITE       the site: SITE/current is what the server answers with\n"
         "  --platform NAME   the platform the release is for ([a-z0-9_-]+; the launcher asks for windows)\n"
         "  --keep N          finished releases to keep besides the current one (default 5)\n"
         "  --copy            copy every file instead of hard-linking it\n"
         "  --require-signed  refuse the release when an .exe or .dll has no Authenticode signature\n"
         "                    (a check of each file's certificate table, not a verification)\n"
         "  --patches N       patches from the files of the last N kept releases (default 3, 0: none)\n"
         "  --no-objects      no compressed copies and no patches: the manifest lists the files only\n"
         "  --sign-key FILE   put every file's sha256 into the manifest and sign it with this key\n"
         "                    (from kestrun-keygen), as the site's next serial\n"
         "  --expires DAYS    the signature expires DAYS days from now (1 to 3650); launchers refuse\n"
         "                    the manifest after that. Without it, it never expires\n"
         "  --serial-floor N  sign with a serial above N, whatever the site holds (a restored site:\n"
         "                    the serial launchers have accepted)\n"
         "  --resign          sign the current release again with the next serial, files unchanged,\n"
         "                    and serve it under a new id (run daily with --expires); only when it is\n"
         "                    what this key signed last for the site (FILE.last-signed beside the key)\n"
         "  --rollback-to ID  with --resign: sign the kept release ID instead, whatever was signed last\n"
         "  --rollback ID     serve the kept release ID again; with --sign-key, --resign goes on from it\n"
         "  --rollout PERCENT with --source: publish the release as the candidate for PERCENT % of\n"
         "                    installations (0 to 100, decimals allowed); the others keep the current\n"
         "                    release (100: a plain publish, current for everyone). Alone: change the\n"
         "                    share of the current candidate (raising it only adds installations; 0\n"
         "                    halts it, 100 makes it the current release). Signed, a share between 0\n"
         "                    and 100 needs --expires (and the daily --resign with it)\n"
         "  --health-reports  the manifest asks launchers for a small report after each run\n"
         "  --auto-rollback   the manifest asks launchers to keep the files an update replaces and, when\n"
         "                    the new program fails at its first starts, to put them back and refuse\n"
         "                    the release (with --rollout: the current release as well, unless it asks\n"
         "                    already). With it:\n"
         "      --watch-seconds N     a start that ends within N seconds failed (1 to 60; launchers' default 5)\n"
         "      --probation-starts N  the first starts watched (1 to 20; default 3)\n"
         "      --failed-starts N     the failed starts among them that take the release back (1 to the\n"
         "                            probation starts; default 2)\n"
         "  --health LOG      count the reports in an nginx access log (combined format) per release\n"
         "  --json            with --health or --steer: as JSON; --html FILE: also a page with charts over time\n"
         "  --steer LOG       one step of a rollout that steers itself by the reports in LOG: halt the\n"
         "                    candidate when it does worse than the current release, raise its share to\n"
         "                    the plan's next when it does no worse, or hold (see docs/deployment.md)\n"
         "      --plan SHARES         the shares to take, ascending, ending at 100: 1,5,25,100\n"
         "      --min-updates N       updates before a decision, and at a step before it advances (default 50)\n"
         "      --step-seconds N      how long a share is served before it advances (default 3600)\n"
         "  --list            list the kept releases, the current one marked with *, and its candidates\n";
}

// A share as given: "0.5", "25".
std::string percentText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", share);
  return text;
}

// One prefixed line per problem, so that each refused entry reads on its own.
int fail(const std::string& error) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = error.find('\n', start);
    std::cerr << "kestrun-publish: " << error.substr(start, end - start) << "\n";
    if (end == std::string::npos) return 1;
    start = end + 1;
  }
}

int usageError(const std::string& message) {
  std::cerr << "kestrun-publish: " << message << "\n";
  printUsage(std::cerr);
  return 2;
}

// Said once when another publisher holds the site, before this one waits for it.
std::function<void()> sayWaiting(const publish::SiteLayout& layout) {
  return [site = layout.site.string()] {
    std::cerr << "kestrun-publish: another publish of " << site << " is running; waiting for it to finish"
              << std::endl;
  };
}

int listReleases(const publish::SiteLayout& layout) {
  std::vector<std::string> ids;
  std::string currentId;
  std::string error;
  if (!publish::listReleaseIds(layout, ids, error) ||
      !publish::currentReleaseId(layout, currentId, error)) {
    return fail(error);
  }
  for (const std::string& id : ids) std::cout << (id == currentId ? "* " : "  ") << id << "\n";
  if (currentId.empty()) return 0;
  std::vector<std::string> platforms;
  if (!publish::rolloutPlatforms(layout.releaseDir(currentId), platforms, error)) return fail(error);
  for (const std::string& platform : platforms) {
    std::optional<publish::RolloutState> state;
    if (!publish::readRollout(layout.releaseDir(currentId), platform, state, error)) return fail(error);
    std::cout << "candidate of " << platform << ": " << state->release << " for " << percentText(state->share)
              << " % of installations" << (state->share == 0 ? " (halted)" : "") << "\n";
  }
  return 0;
}

// Records the shares a run switched to, once it succeeded; a failure to record is a warning.
void recordShareChanges(const publish::PublishRun& run) {
  for (publish::ShareChange change : run.shareChanges) {
    change.time = publish::secondsSinceEpoch();
    std::string error;
    if (!publish::recordShareChange(run.layout, change, error)) std::cerr << "kestrun-publish: warning: " << error << "\n";
  }
}

// Removes releases beyond `keep`, telling which.
int pruneAfter(const publish::PublishRun& run, const publish::PublishRequest& request) {
  std::string error;
  std::vector<std::string> removed;
  if (!publish::pruneReleases(run.layout, request.keep, removed, error)) {
    // The release is published; only the clean-up is left for the next run.
    std::cerr << "kestrun-publish: warning: " << error << "\n";
  }
  for (const std::string& id : removed) std::cout << "kestrun-publish: removed release " << id << "\n";
  return 0;
}

int publishSource(const publish::PublishRequest& request) {
  publish::PublishRun run;
  std::string error;
  if (!publish::publishRelease(request, run, error)) return fail(error);
  recordShareChanges(run);
  std::cout << "kestrun-publish: release " << run.id << " is current (" << request.platform
            << ": " << run.counts.hardLinked << " files hard-linked, " << run.counts.copied
            << " copied, " << run.counts.links << " links)" << std::endl;
  for (const std::string& object : run.objects.damaged) {
    std::cerr << "kestrun-publish: warning: " << object << " does not hash to its name; made again" << std::endl;
  }
  if (run.objects.compressed + run.objects.patches > 0) {
    std::cout << "kestrun-publish: objects: " << run.objects.compressed << " compressed copies, "
              << run.objects.patches << " patches (" << run.objects.made << " made, the others kept)" << std::endl;
  }
  return pruneAfter(run, request);
}

int showHealth(const publish::SiteLayout& layout, const std::string& accessLog, bool json, const std::string& htmlFile) {
  std::vector<publish::ReleaseHealth> releases;
  std::set<std::string> held;
  std::string error;
  // Every release a report may name is kept in the site (a candidate is published as one) or
  // named by what it serves.
  const publish::HealthWindow window{publish::kWholeLog, publish::secondsSinceEpoch() + publish::kClockSlackSeconds};
  if (!publish::reportedReleases(layout, held, error) ||
      !publish::readHealthLog(accessLog, held, releases, error, window)) {
    return fail(error);
  }
  std::cout << (json ? publish::healthJson(releases) : publish::healthText(releases));
  if (htmlFile.empty()) return 0;
  std::ofstream page(htmlFile, std::ios::binary | std::ios::trunc);
  page << publish::healthHtml(releases, publish::readRolloutHistory(layout));
  page.close();
  return page ? 0 : fail("cannot write " + htmlFile);
}

int changeRollout(const publish::PublishRequest& request) {
  publish::PublishRun run;
  std::string error;
  if (!publish::changeRollout(request, run, error)) return fail(error);
  recordShareChanges(run);
  const double share = *request.rolloutShare;
  std::cout << "kestrun-publish: release " << run.id << " is current (";
  for (std::size_t i = 0; i < run.resigned.size(); ++i) {
    std::cout << (i == 0 ? "" : "; ") << run.resigned[i]
              << (share == 100 ? ": the candidate is the current release"
                               : share == 0 ? ": the candidate is halted"
                                            : ": the candidate reaches " + percentText(share) + " % of installations");
  }
  if (run.serial != 0) std::cout << "; signed with serial " << run.serial;
  std::cout << ")" << std::endl;
  return pruneAfter(run, request);
}

int resignCurrent(const publish::PublishRequest& request) {
  publish::PublishRun run;
  std::string error;
  if (!publish::resignRelease(request, run, error)) return fail(error);
  const std::string& signedAgain = request.resignFrom.empty() ? run.previousId : request.resignFrom;
  std::cout << "kestrun-publish: release " << run.id << " is current (release " << signedAgain
            << " signed again with serial " << run.serial << ":";
  for (const std::string& platform : run.resigned) std::cout << " " << platform;
  std::cout << ")" << std::endl;
  return pruneAfter(run, request);
}

// A whole number from `low` to `high` in plain decimal, or -1.
long long boundedNumber(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  const long long number = std::stoll(text);
  return number >= low && number <= high ? number : -1;
}

// The settings of --auto-rollback that the command line gives, the others left to the
// launchers; a usage error when one is out of its range, else empty.
std::string readAutoRollback(const std::map<std::string, std::string>& values, publish::AutoRollback& settings) {
  const auto setting = [&](const char* option, long long high, std::optional<int>& value) {
    const auto given = values.find(option);
    if (given == values.end()) return true;
    const long long number = boundedNumber(given->second, 1, high);
    if (number > 0) value = static_cast<int>(number);
    return number > 0;
  };
  if (!setting("--watch-seconds", kMaxWatchSeconds, settings.windowSeconds)) {
    return "--watch-seconds needs a number of seconds from 1 to 60: " + values.at("--watch-seconds");
  }
  if (!setting("--probation-starts", kMaxProbationStarts, settings.probationStarts)) {
    return "--probation-starts needs a number from 1 to 20: " + values.at("--probation-starts");
  }
  if (!setting("--failed-starts", kMaxProbationStarts, settings.failedStarts)) {
    return "--failed-starts needs a number from 1 to 20: " + values.at("--failed-starts");
  }
  // Launchers would never take the release back, whatever its starts.
  const int probation = settings.probationStarts.value_or(kDefaultProbationStarts);
  const int failed = settings.failedStarts.value_or(kDefaultFailedStarts);
  if (failed <= probation) return "";
  return "--failed-starts (" + std::to_string(kDefaultFailedStarts) +
         " unless given) must not exceed --probation-starts (" + std::to_string(kDefaultProbationStarts) +
         " unless given): " + std::to_string(failed) + " > " + std::to_string(probation);
}

// A rollback to a release that offers a candidate resumes its rollout from the share it offers:
// a new step, counted from now.
void recordOfferedShares(const publish::SiteLayout& layout, const std::string& id) {
  publish::PublishRun run;
  run.layout = layout;
  std::vector<std::string> platforms;
  std::string error;
  if (!publish::rolloutPlatforms(layout.releaseDir(id), platforms, error)) return;
  for (const std::string& platform : platforms) {
    std::optional<publish::RolloutState> state;
    if (publish::readRollout(layout.releaseDir(id), platform, state, error)) {
      run.shareChanges.push_back({0, platform, state->release, state->share});
    }
  }
  recordShareChanges(run);
}

// The settings of --steer; a usage error, else empty.
std::string readSteering(const std::map<std::string, std::string>& values, publish::SteeringRequest& steering) {
  steering.accessLog = values.at("--steer");
  const auto plan = values.find("--plan");
  if (plan == values.end() || !publish::parsePlan(plan->second, steering.plan)) {
    return "--steer needs --plan: shares above 0, ascending, ending at 100 (1,5,25,100)" +
           (plan == values.end() ? std::string() : ": " + plan->second);
  }
  if (values.count("--min-updates") != 0) {
    steering.rule.minUpdates = static_cast<long>(boundedNumber(values.at("--min-updates"), 1, 1000000));
    if (steering.rule.minUpdates < 0) return "--min-updates needs a number from 1 to 1000000: " + values.at("--min-updates");
  }
  if (values.count("--step-seconds") != 0) {
    steering.rule.minStepSeconds = static_cast<long>(boundedNumber(values.at("--step-seconds"), 0, 31536000));
    if (steering.rule.minStepSeconds < 0) {
      return "--step-seconds needs a number of seconds from 0 to 31536000: " + values.at("--step-seconds");
    }
  }
  // The steps between 0 and 100 are shares of a signed candidate, which must expire.
  if (values.count("--sign-key") != 0 && values.count("--expires") == 0) return "--steer with --sign-key needs --expires DAYS";
  return "";
}

std::string rateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", rate * 100.0);
  return text;
}

int steerRollout(const publish::SteeringRequest& request, bool json) {
  publish::SteeringStep step;
  std::string error;
  if (!publish::steerRollout(request, step, error)) return fail(error);
  if (!step.warning.empty()) std::cerr << "kestrun-publish: warning: " << step.warning << "\n";
  const publish::SteeringInput& in = step.input;
  const publish::SteeringDecision& decision = step.decision;
  const bool changed = !step.run.id.empty();
  if (json) {
    nlohmann::ordered_json out = {{"served", step.servedId}, {"platform", step.platform}};
    if (!step.platform.empty() && step.share == 0) {
      out.update({{"candidate", step.candidate}, {"share", 0.0}, {"decision", "none"}});
    } else if (!step.platform.empty()) {
      out.update({{"candidate", step.candidate}, {"current_release", step.currentRelease}, {"share", step.share},
                  {"seconds_at_step", in.secondsAtStep}, {"step_start_recorded", step.stepStartRecorded},
                  {"candidate_tried", in.candidate.updates}, {"candidate_wrong", in.candidate.bad},
                  {"step_tried", in.candidateAtStep.updates}, {"step_wrong", in.candidateAtStep.bad},
                  {"current_tried", in.current.updates}, {"current_wrong", in.current.bad},
                  {"candidate_rate", decision.candidateRate}, {"candidate_lower", decision.candidateLower},
                  {"baseline", decision.baseline}, {"tolerance", decision.tolerance},
                  {"decision", publish::steerActionName(decision.action)}, {"new_share", decision.share},
                  {"reason", decision.reason}});
    } else {
      out["decision"] = "none";
    }
    if (changed) out["release"] = step.run.id;
    std::cout << out.dump(2) << std::endl;
  } else if (step.platform.empty()) {
    std::cout << "kestrun-publish: release " << step.servedId << " offers no candidate to steer" << std::endl;
  } else if (step.share == 0) {
    std::cout << "kestrun-publish: candidate " << step.candidate << " of " << step.platform
              << " is halted; nothing to steer (raise its share by hand with --rollout)" << std::endl;
  } else {
    std::cout << "kestrun-publish: candidate " << step.candidate << " of " << step.platform << " at "
              << percentText(step.share) << " % for " << in.secondsAtStep << " s"
              << (step.stepStartRecorded ? "" : " (its start was not recorded: counted from now)") << "\n"
              << "  candidate: tried by " << in.candidate.updates << ", wrong for " << in.candidate.bad << " (rate "
              << rateText(decision.candidateRate) << ", lower bound " << rateText(decision.candidateLower)
              << "); tried by " << in.candidateAtStep.updates << " at this step\n"
              << "  current release " << step.currentRelease << ": tried by " << in.current.updates << ", wrong for "
              << in.current.bad << " (baseline " << rateText(decision.baseline) << ", tolerance "
              << rateText(decision.tolerance) << ")\n"
              << "kestrun-publish: " << publish::steerActionName(decision.action)
              << (decision.action == publish::SteerAction::advance ? " to "
                  : decision.action == publish::SteerAction::hold  ? " at "
                                                                   : "")
              << (decision.action == publish::SteerAction::halt ? "" : percentText(decision.share) + " %") << ": "
              << decision.reason << std::endl;
  }
  if (!changed) return 0;
  if (!json) {
    std::cout << "kestrun-publish: release " << step.run.id << " is current (" << step.platform
              << (decision.share == 100 ? ": the candidate is the current release"
                  : decision.share == 0 ? ": the candidate is halted"
                                        : ": the candidate reaches " + percentText(decision.share) + " % of installations")
              << ")" << std::endl;
  }
  return pruneAfter(step.run, request.change);
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> values;
  bool copy = false;
  bool list = false;
  bool resign = false;
  bool noObjects = false;
  bool requireSigned = false;
  bool healthReports = false;
  bool autoRollback = false;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      printUsage(std::cout);
      return 0;
    }
    if (option == "--copy" || option == "--list" || option == "--resign") {
      (option == "--copy" ? copy : option == "--list" ? list : resign) = true;
      continue;
    }
    if (option == "--health-reports" || option == "--json") {
      (option == "--json" ? json : healthReports) = true;
      continue;
    }
    if (option == "--no-objects" || option == "--require-signed" || option == "--auto-rollback") {
      (option == "--no-objects" ? noObjects : option == "--require-signed" ? requireSigned : autoRollback) = true;
      continue;
    }
    if (option != "--source" && option != "--site" && option != "--platform" && option != "--keep" &&
        option != "--rollback" && option != "--patches" && option != "--sign-key" && option != "--expires" &&
        option != "--serial-floor" && option != "--rollback-to" && option != "--rollout" && option != "--health" &&
        option != "--html" && option != "--watch-seconds" && option != "--probation-starts" &&
        option != "--failed-starts" && option != "--steer" && option != "--plan" && option != "--min-updates" &&
        option != "--step-seconds") {
      return usageError("unknown option: " + option);
    }
    if (i + 1 >= argc) return usageError(option + " needs a value");
    values[option] = argv[++i];
  }
  if (values.count("--site") == 0) return usageError("--site is required");
  if (requireSigned && (list || resign || values.count("--rollback") != 0)) {
    return usageError("--require-signed is an option of a publish");
  }
  publish::SiteLayout layout{values["--site"]};
  const bool steer = values.count("--steer") != 0;
  if (!steer && values.count("--plan") + values.count("--min-updates") + values.count("--step-seconds") != 0) {
    return usageError("--plan, --min-updates and --step-seconds are options of --steer");
  }
  publish::SteeringRequest steering;
  if (steer) {
    if (copy || list || resign || noObjects || requireSigned || healthReports || autoRollback) {
      return usageError(kSteerOptions);
    }
    for (const char* option : {"--source", "--platform", "--patches", "--rollout", "--rollback", "--rollback-to",
                               "--health", "--html"}) {
      if (values.count(option) != 0) return usageError(kSteerOptions);
    }
    const std::string wrong = readSteering(values, steering);
    if (!wrong.empty()) return usageError(wrong);
  }
  if (values.count("--health") != 0 || (json && !steer) || values.count("--html") != 0) {
    if (values.count("--health") == 0 || values.size() != 2u + values.count("--html") || copy || list || resign ||
        noObjects || requireSigned || healthReports || autoRollback) {
      return usageError("--health takes only --site, --json and --html");
    }
    return showHealth(layout, values["--health"], json, values["--html"]);
  }

  if (list || values.count("--rollback") != 0) {
    const std::size_t allowed = list ? 1u : 2u + values.count("--sign-key");
    if (values.size() != allowed || copy || resign || healthReports || autoRollback ||
        (list && values.count("--rollback"))) {
      return usageError(list ? "--list takes only --site" : "--rollback takes only --site and --sign-key");
    }
    if (noObjects) return usageError("--no-objects is an option of a publish");
    if (list) return listReleases(layout);
    std::string error;
    ManifestSecretKey key;
    const bool signer = values.count("--sign-key") != 0;
    if (signer && !publish::readSigningKey(values["--sign-key"], key, error)) return fail(error);
    if (!publish::rollBack(layout, values["--rollback"], error, sayWaiting(layout), signer ? &key : nullptr,
                           signer ? publish::signingRecordFile(values["--sign-key"]) : fs::path())) {
      return fail(error);
    }
    std::cout << "kestrun-publish: release " << values["--rollback"] << " is current" << std::endl;
    recordOfferedShares(layout, values["--rollback"]);
    const std::string warning = publish::rollbackWarning(layout, values["--rollback"]);
    if (!warning.empty()) std::cerr << "kestrun-publish: warning: " << warning << "\n";
    return 0;
  }

  publish::PublishRequest request;
  request.site = layout.site;
  request.preferHardLinks = !copy;
  request.waitingForSite = sayWaiting(layout);
  const bool shareChange = (values.count("--rollout") != 0 && values.count("--source") == 0) || steer;
  if (values.count("--rollout") != 0) {
    double share = 0;
    if (resign || !publish::parseShare(values["--rollout"], share)) {
      return usageError("--rollout needs a share from 0 to 100 (decimals allowed), and no --resign: " +
                        values["--rollout"]);
    }
    // A candidate for every installation is a release like any other, published as one, so
    // that launchers from before rollouts install it as well.
    if (values.count("--source") == 0 || share != 100) request.rolloutShare = share;
    // A signed candidate for some installations must expire: a copy of its signature could
    // otherwise move installations onto it long after a halt.
    if (share > 0 && share < 100 && values.count("--sign-key") != 0 && values.count("--expires") == 0) {
      return usageError("--rollout " + values["--rollout"] + " with --sign-key needs --expires DAYS");
    }
  }
  if (healthReports && (resign || shareChange || list || values.count("--rollback") != 0)) {
    return usageError("--health-reports is an option of a publish");
  }
  request.healthReports = healthReports;
  if (!autoRollback &&
      (values.count("--watch-seconds") + values.count("--probation-starts") + values.count("--failed-starts")) != 0) {
    return usageError("--watch-seconds, --probation-starts and --failed-starts need --auto-rollback");
  }
  if (autoRollback) {
    if (resign || shareChange) return usageError("--auto-rollback is an option of a publish");
    publish::AutoRollback settings;
    const std::string wrong = readAutoRollback(values, settings);
    if (!wrong.empty()) return usageError(wrong);
    request.autoRollback = settings;
  }
  if (shareChange) {
    if (copy || requireSigned || noObjects || values.count("--platform") != 0 || values.count("--patches") != 0) {
      return usageError("--rollout without --source takes only --site, --sign-key, --expires, --serial-floor and --keep");
    }
  } else if (resign) {
    if (copy || values.count("--source") != 0 || values.count("--platform") != 0) {
      return usageError(kResignOptions);
    }
    if (values.count("--sign-key") == 0) return usageError("--resign needs --sign-key");
    if (values.count("--rollback-to") != 0) {
      request.resignFrom = values["--rollback-to"];
      if (!publish::isReleaseId(request.resignFrom)) return usageError("bad release id: " + request.resignFrom);
    }
  } else if (values.count("--rollback-to") != 0) {
    return usageError("--rollback-to is an option of --resign");
  } else {
    if (values.count("--source") == 0 || values.count("--platform") == 0) {
      return usageError("--source and --platform are required");
    }
    request.source = values["--source"];
    request.platform = values["--platform"];
    if (!publish::isPlatformName(request.platform)) {
      return usageError("bad platform name: " + request.platform);
    }
    if (requireSigned) {
      std::vector<std::string> problems;
      std::string error;
      if (!publish::unsignedExecutables(request.source, problems, error)) return fail(error);
      for (const std::string& problem : problems) error += "\nnot signed: " + problem;
      if (!problems.empty()) return fail("refused: the release holds unsigned executables; sign them first" + error);
    }
  }
  if (!resign && !shareChange) {
    request.objects = !noObjects;
    if (values.count("--patches") != 0) {
      const long long bases = boundedNumber(values["--patches"], 0, 64);
      if (bases < 0 || noObjects) return usageError("--patches needs a number from 0 to 64, and objects: " + values["--patches"]);
      request.patchBases = static_cast<int>(bases);
    }
  } else if (resign && (noObjects || values.count("--patches") != 0)) {
    return usageError(kResignOptions);
  }
  if (values.count("--keep") != 0) {
    const long long keep = boundedNumber(values["--keep"], 1, 9999);
    if (keep < 0) return usageError("--keep needs a number from 1 to 9999: " + values["--keep"]);
    request.keep = static_cast<int>(keep);
  }
  if ((values.count("--expires") != 0 || values.count("--serial-floor") != 0) && values.count("--sign-key") == 0) {
    return usageError("--expires and --serial-floor need --sign-key");
  }
  if (values.count("--expires") != 0) {
    const long long days = boundedNumber(values["--expires"], 1, 3650);
    if (days < 0) return usageError("--expires needs a number of days from 1 to 3650: " + values["--expires"]);
    request.expiresInDays = static_cast<int>(days);
  }
  if (values.count("--serial-floor") != 0 && !parseManifestSerial(values["--serial-floor"], request.serialFloor)) {
    return usageError("--serial-floor needs a serial from 1 to 9223372036854775807: " + values["--serial-floor"]);
  }
  if (values.count("--sign-key") != 0) {
    ManifestSecretKey key;
    std::string error;
    if (!publish::readSigningKey(values["--sign-key"], key, error)) return fail(error);
    request.signingKey = key;
    request.signingRecord = publish::signingRecordFile(values["--sign-key"]);
  }
  if (steer) {
    steering.change = request;
    return steerRollout(steering, json);
  }
  if (shareChange) return changeRollout(request);
  return resign ? resignCurrent(request) : publishSource(request);
}
