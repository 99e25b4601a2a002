// Rollouts that steer themselves. A fleet of simulated launchers (identifiers, loopback
// addresses of their own, the launchers' cohort rule, failed starts, automatic rollbacks) runs
// against a site made and steered by the real kestrun-publish and served by nginx with the
// project's configuration, in real time; then the same fleet runs on a simulated clock, writing
// nginx's log itself and steered by readHealthLog and decideStep as the command steers, for the
// hundred rollouts a count of false halts needs.
#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
#include <queue>
#include <random>
#include <set>
#include <thread>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "tools/publish/health_log.h"
#include "tools/publish/steering_rule.h"
#include "update/auto_rollback.h"
#include "update/health_report.h"
#include "update/manifest_reader.h"
#include "update/rollout_cohort.h"

extern "C" char** environ;

namespace bench {
namespace {

namespace fs = std::filesystem;
using Random = std::mt19937_64;

constexpr int kFleet = 10000;
constexpr double kCurrentFailure = 0.01;  // of the current release's starts
constexpr double kGoodFailure = 0.01;
constexpr double kBadFailure = 0.30;
constexpr std::uint32_t kFailedExitCode = 3;
const char* const kPlan = "1,5,25,100";
// In real time: in each wave every installation starts the program with this chance.
constexpr double kWaveChance = 0.5;
constexpr int kMaxWaves = 12;
const char* const kStepSeconds = "3";
constexpr int kForgedReports = 10000;
// On the simulated clock: each installation starts the program 3 times a day on average.
constexpr double kMeanSecondsBetweenStarts = 8 * 3600.0;
constexpr long kRolloutStart = 1796860800;  // 2026-12-10 00:00 UTC
constexpr long kHistorySeconds = 8 * 3600;
constexpr long kSteerEverySeconds = 600;
constexpr long kMaxRolloutSeconds = 3 * 24 * 3600;
constexpr int kGoodRollouts = 100;
constexpr int kBadRollouts = 20;

// One installation, as its launcher keeps it.
struct Installation {
  std::string identifier;  // update_id.txt's
  std::string address;     // a loopback address of its own
  std::string installed = "older";
  std::string previous;   // what a rollback puts back
  std::string probation;  // the release whose first starts are watched, or empty
  int starts = 0;
  int failedStarts = 0;
  std::set<std::string> refused;
  bool hadCandidate = false;
};

// What a manifest offers, as a launcher reads it.
struct Offer {
  std::string current;    // the release its health element names
  std::string candidate;  // empty: no rollout
  double share = 0;
  std::string salt;
};

using FailureRate = std::function<double(const std::string& release)>;  // of its starts

bool chance(Random& random, double probability) {
  return std::uniform_real_distribution<double>(0, 1)(random) < probability;
}

std::string randomHex(Random& random, int words) {
  std::string text;
  char word[20];
  for (int i = 0; i < words; ++i) {
    std::snprintf(word, sizeof word, "%016llx", static_cast<unsigned long long>(random()));
    text += word;
  }
  return text;
}

std::vector<Installation> makeFleet(std::uint64_t seed) {
  Random random(seed);
  std::vector<Installation> fleet(kFleet);
  for (int i = 0; i < kFleet; ++i) {
    fleet[i].identifier = randomHex(random, 2);
    fleet[i].address = "127.2." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200);
  }
  return fleet;
}

int countHadCandidate(const std::vector<Installation>& fleet) {
  return static_cast<int>(std::count_if(fleet.begin(), fleet.end(), [](const auto& in) { return in.hadCandidate; }));
}

// The start of a release on probation, watched before the check: the release it took back
// after its failed starts, or empty.
std::string watchProbation(Installation& in, double failure, Random& random) {
  if (in.probation.empty()) return {};
  const std::string release = in.probation;
  ++in.starts;
  if (chance(random, failure)) ++in.failedStarts;
  if (in.failedStarts >= kDefaultFailedStarts) {
    in.installed = in.previous;
    in.refused.insert(release);
    in.probation.clear();
    return release;
  }
  if (in.starts >= kDefaultProbationStarts) in.probation.clear();
  return {};
}

// An update and the start after it, the first of its probation.
void update(Installation& in, const std::string& release, bool candidate, double failure, Random& random,
            HealthReport& report) {
  const bool failed = chance(random, failure);
  in.previous = in.installed;
  in.installed = in.probation = release;
  in.starts = 1;
  in.failedStarts = failed ? 1 : 0;
  in.hadCandidate = in.hadCandidate || candidate;
  report.result = "updated";
  report.exitedEarly = failed;
  report.exitCode = failed ? kFailedExitCode : 0;
}

// One run of the launcher, in its order: the watched start, the check, the update, and the one
// report the run sends (an empty release: none).
HealthReport runLauncher(Installation& in, const Offer& offer, const FailureRate& failureOf, Random& random) {
  const std::string rolledBack = watchProbation(in, failureOf(in.installed), random);
  const bool inCohort = !offer.candidate.empty() && inRolloutCohort(offer.salt, in.identifier, offer.share);
  const std::string offered = inCohort ? offer.candidate : offer.current;
  HealthReport report;
  // A refused release is neither installed nor reported on.
  if (in.refused.count(offered) == 0) {
    report.release = offered;
    report.result = "up_to_date";
    if (in.installed != offered) update(in, offered, inCohort, failureOf(offered), random, report);
  }
  if (!rolledBack.empty()) report = {rolledBack, "rolled_back", "", false, kFailedExitCode};
  return report;
}

struct RolloutResult {
  double maxShare = 0;
  double haltedAt = -1;  // the share it was halted at; -1: never halted
  int hadCandidate = 0;  // installations that ever ran the candidate
  double hoursToFull = -1;
  std::string lastReason;  // of the last decision
  std::string failure;
};

RolloutResult failedRollout(std::string why) {
  RolloutResult result;
  result.failure = std::move(why);
  return result;
}

// One GET to nginx from the loopback address `source`; the body of a 2xx answer, or false.
bool httpGet(const std::string& source, int port, const std::string& target, std::string& body) {
  sockaddr_in local{}, server{};
  local.sin_family = server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Kestrun/1.0\r\nConnection: close\r\n\r\n";
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  std::string answer;
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
      connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char buffer[8192];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
  }
  if (fd >= 0) close(fd);
  const std::size_t headersEnd = answer.find("\r\n\r\n");
  if (answer.compare(0, 10, "HTTP/1.1 2") != 0 || headersEnd == std::string::npos) return false;
  body = answer.substr(headersEnd + 4);
  return true;
}

bool fetchOffer(const std::string& source, int port, Offer& offer) {
  std::string body, error;
  std::vector<ManifestEntry> entries;
  std::vector<std::string> warnings;
  ManifestReader reader(false);
  if (!httpGet(source, port, "/gis/update/list?platform=windows", body) || !reader.read(body, entries, warnings, error)) {
    return false;
  }
  const RolloutOffer& rollout = reader.rollout();
  offer = {reader.healthRelease(), rollout.present ? rollout.release : "", rollout.share, rollout.salt};
  return true;
}

// nginx with deploy/nginx/kestrun.conf through run-local.sh, which execs it: stopped by that id.
struct SiteServer {
  pid_t pid = 0;
  int port = 0;
  ~SiteServer() {
    if (pid == 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// Up once the manifest is served; an nginx that ended found its port taken, and another is tried.
bool startServer(SiteServer& server, const fs::path& site, const fs::path& prefix, const fs::path& accessLog) {
  Random random(std::random_device{}());
  Offer ignored;
  for (int attempt = 0; attempt < 8 && server.pid == 0; ++attempt) {
    server.port = std::uniform_int_distribution<int>(20000, 32000)(random);
    std::vector<std::string> arguments = {"/bin/sh", KESTRUN_BENCH_NGINX_SCRIPT, "--site", site.string(),
                                          "--listen", "127.0.0.1:" + std::to_string(server.port), "--prefix",
                                          prefix.string(), "--access-log", accessLog.string()};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&server.pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    for (int poll = 0; poll < 200 && !fetchOffer("127.0.0.1", server.port, ignored); ++poll) {
      if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
        server.pid = 0;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  return server.pid != 0;
}

// One wave: each installation starts the program with probability `chanceToStart`, on two
// threads; false when a request went unanswered.
bool runWave(std::vector<Installation>& fleet, int port, double chanceToStart, const FailureRate& failureOf) {
  std::atomic<int> unanswered = 0;
  const auto work = [&](std::size_t first) {
    Random random(std::random_device{}());
    Offer offer;
    std::string ignored;
    for (std::size_t i = first; i < fleet.size(); i += 2) {
      if (!chance(random, chanceToStart)) continue;
      if (!fetchOffer(fleet[i].address, port, offer)) {
        ++unanswered;
        continue;
      }
      const HealthReport report = runLauncher(fleet[i], offer, failureOf, random);
      if (!report.release.empty() && !httpGet(fleet[i].address, port, healthReportUrl("", "windows", report), ignored)) {
        ++unanswered;
      }
    }
  };
  std::thread other(work, 1);
  work(0);
  other.join();
  return unanswered == 0;
}

bool publish(const std::vector<std::string>& arguments, const fs::path& output, std::string& failure) {
  std::vector<std::string> command = {KESTRUN_BENCH_PUBLISH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const ChildRun run = runChild(command, environmentWith({}, {}), output, 120);
  if (run.exitCode != 0) failure = "kestrun-publish " + describeFailure(run, output);
  return run.exitCode == 0;
}

// A tiny release of the program and a data file, which differ by `name`.
std::string writeRelease(const fs::path& dir, const std::string& name) {
  fs::create_directories(dir / "data");
  std::ofstream(dir / "Vardel.exe") << "the " << name << " program\n";
  std::ofstream(dir / "data/config.txt") << "release = " << name << "\n";
  return dir.string();
}

// What kestrun-publish --steer decided and why: its last line that says so.
std::string decisionLine(const fs::path& output) {
  std::ifstream in(output);
  std::string line, decision;
  while (std::getline(in, line)) {
    for (const char* action : {"hold", "advance", "halt"}) {
      if (line.rfind(std::string("kestrun-publish: ") + action, 0) == 0) decision = line.substr(17);
    }
  }
  return decision;
}

// The rollout of one candidate through nginx, steered between waves by kestrun-publish --steer.
RolloutResult rolloutThroughNginx(const fs::path& work, double candidateFailure, bool forged) {
  const std::string site = (work / "site").string(), log = (work / "access.log").string();
  const fs::path output = work / "publish.out";
  RolloutResult result;
  SiteServer server;
  std::string candidate;
  const FailureRate failureOf = [&](const std::string& id) { return id == candidate ? candidateFailure : kCurrentFailure; };
  if (!publish({"--source", writeRelease(work / "current", "current"), "--site", site, "--platform", "windows",
                "--health-reports", "--auto-rollback"}, output, result.failure)) {
    return result;
  }
  if (!startServer(server, site, work / "nginx", log)) return failedRollout("nginx did not start in " + work.string());
  // The fleet updates to the current release first, and starts it twice more, so that its
  // rate is known before the candidate comes.
  std::vector<Installation> fleet = makeFleet(1);
  Offer offer;
  for (const double chanceToStart : {1.0, kWaveChance, kWaveChance}) {
    if (!runWave(fleet, server.port, chanceToStart, failureOf)) return failedRollout("requests went unanswered");
  }
  if (!publish({"--source", writeRelease(work / "candidate", "candidate"), "--site", site, "--platform", "windows",
                "--rollout", "1", "--health-reports", "--auto-rollback"}, output, result.failure)) {
    return result;
  }
  if (!fetchOffer("127.0.0.1", server.port, offer)) return failedRollout("no manifest after the rollout");
  candidate = offer.candidate;
  std::string ignored;
  const std::string forgery = "/gis/update/health?platform=windows&release=" + candidate + "&result=failed&step=start";
  for (int i = 0; forged && i < kForgedReports; ++i) httpGet("127.9.9.9", server.port, forgery, ignored);
  double share = offer.share;
  for (int wave = 1; wave <= kMaxWaves && share > 0 && share < 100; ++wave) {
    const double before = share;
    const fs::path steerOutput = work / ("steer-" + std::to_string(wave) + ".out");
    if (!runWave(fleet, server.port, kWaveChance, failureOf)) return failedRollout("requests went unanswered");
    if (!publish({"--site", site, "--steer", log, "--plan", kPlan, "--step-seconds", kStepSeconds}, steerOutput,
                 result.failure)) {
      return result;
    }
    if (!fetchOffer("127.0.0.1", server.port, offer)) return failedRollout("no manifest after a step");
    share = offer.candidate == candidate ? offer.share : offer.current == candidate ? 100 : 0;
    std::printf("  wave %2d: %4d installations had the candidate; %g %% -> %g %%  %s\n", wave,
                countHadCandidate(fleet), before, share, decisionLine(steerOutput).c_str());
    result.maxShare = std::max(result.maxShare, share);
    if (share == 0) result.haltedAt = before;
  }
  result.hadCandidate = countHadCandidate(fleet);
  return result;
}

// A site on a simulated clock: the fleet writes nginx's log itself, and steering decides as
// kestrun-publish --steer does, from the same reading of the log.
struct SimulatedSite {
  std::vector<Installation> fleet;
  Offer offer{"20261209-080000-001", "", 0, ""};
  double candidateFailure = 0;
  std::vector<double> plan;
  fs::path logPath;
  std::ofstream log;
  Random random;
  std::priority_queue<std::pair<double, int>, std::vector<std::pair<double, int>>, std::greater<>> nextStarts;
  long stepStart = 0;
};

void writeLogLine(std::ostream& out, const std::string& address, long time, const HealthReport& report) {
  const std::time_t seconds = time;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char stamp[40];
  std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", &parts);
  out << address << " - - [" << stamp << "] \"GET " << healthReportUrl("", "windows", report)
      << " HTTP/1.1\" 204 0 \"-\" \"Kestrun/1.0\"\n";
}

// Every start of the program before `until`, in the order of time; each installation's starts
// are a Poisson process. Only the reports are logged: the reader passes over other lines.
void runUntil(SimulatedSite& sim, long until) {
  std::exponential_distribution<double> pause(1.0 / kMeanSecondsBetweenStarts);
  const FailureRate failureOf = [&](const std::string& id) {
    return id == sim.offer.candidate ? sim.candidateFailure : kCurrentFailure;
  };
  while (sim.nextStarts.top().first < until) {
    const auto [time, index] = sim.nextStarts.top();
    sim.nextStarts.pop();
    const HealthReport report = runLauncher(sim.fleet[index], sim.offer, failureOf, sim.random);
    if (!report.release.empty()) writeLogLine(sim.log, sim.fleet[index].address, static_cast<long>(time), report);
    sim.nextStarts.push({time + pause(sim.random), index});
  }
  sim.log.flush();
}

publish::UpdateOutcomes outcomesOf(const std::vector<publish::ReleaseHealth>& releases, const std::string& release) {
  for (const publish::ReleaseHealth& health : releases) {
    if (health.release == release) return health.senders;
  }
  return {};
}

// One steering step at `now`. At the first share the whole log serves for the step too: the
// candidate has no report from before its rollout.
bool steer(SimulatedSite& sim, long now, std::string& reason, std::string& error) {
  const std::set<std::string> held = {sim.offer.current, sim.offer.candidate};
  std::vector<publish::ReleaseHealth> whole, atStep;
  const std::int64_t until = now + publish::kClockSlackSeconds;
  if (!publish::readHealthLog(sim.logPath, held, whole, error, {publish::kWholeLog, until})) return false;
  if (sim.stepStart == kRolloutStart) {
    atStep = whole;
  } else if (!publish::readHealthLog(sim.logPath, held, atStep, error, {sim.stepStart, until})) {
    return false;
  }
  const publish::SteeringInput input = {outcomesOf(whole, sim.offer.candidate), outcomesOf(atStep, sim.offer.candidate),
                                        outcomesOf(whole, sim.offer.current), now - sim.stepStart, sim.offer.share,
                                        sim.plan};
  const publish::SteeringDecision decision = publish::decideStep(input, publish::SteeringRule{});
  if (decision.share != sim.offer.share) sim.stepStart = now;
  sim.offer.share = decision.share;
  reason = decision.reason;
  return true;
}

RolloutResult simulatedRollout(const fs::path& log, double candidateFailure, std::uint64_t seed) {
  SimulatedSite sim;
  sim.fleet = makeFleet(seed);
  sim.candidateFailure = candidateFailure;
  publish::parsePlan(kPlan, sim.plan);
  sim.logPath = log;
  sim.log.open(log, std::ios::trunc);
  sim.random.seed(seed);
  // The history: the current release, published kHistorySeconds before the candidate.
  std::exponential_distribution<double> pause(1.0 / kMeanSecondsBetweenStarts);
  for (int i = 0; i < kFleet; ++i) sim.nextStarts.push({kRolloutStart - kHistorySeconds + pause(sim.random), i});
  runUntil(sim, kRolloutStart);
  sim.offer = {sim.offer.current, "20261210-000000-001", sim.plan.front(), randomHex(sim.random, 4)};
  sim.stepStart = kRolloutStart;
  RolloutResult result;
  for (long now = kRolloutStart + kSteerEverySeconds; now <= kRolloutStart + kMaxRolloutSeconds;
       now += kSteerEverySeconds) {
    runUntil(sim, now);
    const double before = sim.offer.share;
    if (!steer(sim, now, result.lastReason, result.failure)) break;
    result.maxShare = std::max(result.maxShare, sim.offer.share);
    if (sim.offer.share == 0) result.haltedAt = before;
    if (sim.offer.share == 100) result.hoursToFull = (now - kRolloutStart) / 3600.0;
    if (sim.offer.share == 0 || sim.offer.share == 100) break;
  }
  result.hadCandidate = countHadCandidate(sim.fleet);
  return result;
}

// The simulated rollouts, good ones first, on two threads; each has its own fleet and seed.
std::vector<RolloutResult> simulatedRollouts(const fs::path& work) {
  std::vector<RolloutResult> results(kGoodRollouts + kBadRollouts);
  const auto run = [&](int first) {
    for (int round = first; round < static_cast<int>(results.size()); round += 2) {
      const double failure = round < kGoodRollouts ? kGoodFailure : kBadFailure;
      results[round] = simulatedRollout(work / ("simulated-" + std::to_string(first) + ".log"), failure, 1000 + round);
    }
  };
  auto other = std::async(std::launch::async, run, 1);
  run(0);
  other.get();
  return results;
}

Figure figure(const char* name, const std::string& failure, double value, double baseline, Goal goal, double limit) {
  return failure.empty() ? measuredFigure(name, value, baseline, goal, limit) : failedFigure(name, goal, limit, failure);
}

Figures simulatedFigures(const fs::path& work) {
  const std::vector<RolloutResult> results = simulatedRollouts(work);
  std::vector<double> hours;
  int falseHalts = 0, badNotHaltedFirst = 0, mostHadBad = 0;
  std::string failure;
  for (std::size_t round = 0; round < results.size(); ++round) {
    const RolloutResult& result = results[round];
    if (failure.empty()) failure = result.failure;
    if (round < kGoodRollouts) {
      if (result.hoursToFull >= 0) hours.push_back(result.hoursToFull);
      falseHalts += result.haltedAt >= 0;
      if (result.hoursToFull < 0 && result.haltedAt < 0) {
        std::printf("simulated: good rollout %zu still at %g %% after %ld h: %s\n", round, result.maxShare,
                    kMaxRolloutSeconds / 3600, result.lastReason.c_str());
      }
    } else {
      badNotHaltedFirst += result.haltedAt != 1;
      mostHadBad = std::max(mostHadBad, result.hadCandidate);
    }
  }
  std::sort(hours.begin(), hours.end());
  std::printf("simulated: %zu of %d good rollouts reached 100 %% in %.1f h (median; %.1f to %.1f); %d of %d bad "
              "ones were not halted at the first share; at most %d installations had a bad one\n",
              hours.size(), kGoodRollouts, median(hours), hours.empty() ? 0 : hours.front(),
              hours.empty() ? 0 : hours.back(), badNotHaltedFirst, kBadRollouts, mostHadBad);
  const std::string badFailure = badNotHaltedFirst ? "not halted at the first share" : failure;
  return {figure("simulated, good candidate: false halts in 100 rollouts", failure, falseHalts, 0, Goal::ValueAtMost, 0),
          figure("simulated, good candidate: rollouts that reached 100 %", failure, hours.size(), kGoodRollouts,
                 Goal::RatioAtLeast, 1),
          figure("simulated, bad candidate: most of the fleet that had it, %", badFailure, 100.0 * mostHadBad / kFleet,
                 0, Goal::ValueAtMost, 1.5)};
}

Figures nginxFigures(const fs::path& work) {
  std::printf("through nginx: a bad candidate (%g %% of its starts fail)\n", kBadFailure * 100);
  const RolloutResult bad = rolloutThroughNginx(work / "bad", kBadFailure, false);
  std::printf("through nginx: a good candidate\n");
  const RolloutResult good = rolloutThroughNginx(work / "good", kGoodFailure, false);
  std::printf("through nginx: a good candidate, and %d failed reports from one address\n", kForgedReports);
  const RolloutResult forged = rolloutThroughNginx(work / "forged", kGoodFailure, true);
  const std::string badFailure = bad.failure.empty() && bad.haltedAt != 1 ? "not halted at the first share" : bad.failure;
  return {figure("through nginx, bad candidate: fleet that had it, %", badFailure, 100.0 * bad.hadCandidate / kFleet,
                 0, Goal::ValueAtMost, 1.5),
          figure("through nginx, good candidate: share reached, %", good.failure, good.maxShare, 100,
                 Goal::RatioAtLeast, 1),
          figure("through nginx, 10000 forged failures: halts", forged.failure, forged.haltedAt >= 0, 0,
                 Goal::ValueAtMost, 0)};
}

}  // namespace

Figures runSteer(const Workspace& workspace) {
  const fs::path work = workspace.work / "steer";
  fs::create_directories(work);
  Figures figures = simulatedFigures(work);
  const Figures nginx = nginxFigures(work);
  figures.insert(figures.end(), nginx.begin(), nginx.end());
  fs::remove_all(work);
  return figures;
}

}  // namespace bench
