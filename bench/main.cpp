// Measures the launcher next to its baselines, in one run on one machine, and exits 1 when a
// ratio (or the memory figure) misses its goal. Run by hand, never by the test suite.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "bench/bench_result.h"
#include "bench/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "update/http_library.h"

namespace bench {

// Automatic rollback: the launcher's and the library's, and the disk the kept files take.
Figures runRollback(const Workspace& workspace, bool launcherServes, const std::string& whyNot);
// Rollouts that steer themselves: a simulated fleet against kestrun-publish --steer and nginx.
Figures runSteer(const Workspace& workspace);
// The origin's load behind two Varnish edges: waves of real launchers, and kestrun-load.
Figures runEdge(const Workspace& workspace);

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace bench

namespace {

// The first line of a /proc file that starts with `key`, without the key; empty when absent.
std::string procField(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) {
      const std::size_t value = line.find_first_not_of(" \t:", key.size());
      return value == std::string::npos ? "" : line.substr(value);
    }
  }
  return {};
}

std::string firstLine(const char* file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

void describeMachine() {
  std::printf("machine: %u processors, %s, memory %s, Linux %s\n", std::thread::hardware_concurrency(),
              procField("/proc/cpuinfo", "model name").c_str(), procField("/proc/meminfo", "MemTotal").c_str(),
              firstLine("/proc/sys/kernel/osrelease").c_str());
  std::printf("load average at the start: %s\n\n", firstLine("/proc/loadavg").c_str());
}

std::string goalText(const bench::Figure& figure) {
  char text[48];
  switch (figure.goal) {
    case bench::Goal::RatioAtLeast: std::snprintf(text, sizeof text, "ratio >= %g", figure.limit); break;
    case bench::Goal::RatioAtMost: std::snprintf(text, sizeof text, "ratio <= %g", figure.limit); break;
    case bench::Goal::ValueAtMost: std::snprintf(text, sizeof text, "value <= %g", figure.limit); break;
  }
  return text;
}

void printFigure(const bench::Figure& figure) {
  if (!figure.failure.empty()) {
    std::printf("%-58s %10s %10s %7s  %-13s MISSED (%s)\n", figure.name.c_str(), "-", "-", "-",
                goalText(figure).c_str(), figure.failure.c_str());
  } else if (figure.hasBaseline()) {
    std::printf("%-58s %10.3f %10.3f %7.3f  %-13s %s\n", figure.name.c_str(), figure.launcher, figure.baseline,
                figure.ratio(), goalText(figure).c_str(), figure.met() ? "ok" : "MISSED");
  } else {
    std::printf("%-58s %10.3f %10s %7s  %-13s %s\n", figure.name.c_str(), figure.launcher, "-", "-",
                goalText(figure).c_str(), figure.met() ? "ok" : "MISSED");
  }
  std::fflush(stdout);
}

// The launcher's built-in server decides where nginx listens: the start figure lets the launcher
// run its whole check, and that must reach this server and nothing else.
struct LauncherServer {
  int port = 0;        // 0: any free port
  bool usable = true;  // false: the launcher would ask a server that is not started here
  std::string whyNot;
};

LauncherServer launcherServer(const std::string& baseUrl) {
  LauncherServer server;
  if (baseUrl.empty()) return server;  // a launcher that only starts the program
  std::smatch match;
  if (std::regex_match(baseUrl, match, std::regex(R"(http://127\.0\.0\.1:(\d+)/*)"))) {
    server.port = std::stoi(match[1].str());
    return server;
  }
  server.usable = false;
  server.whyNot = "the launcher is built for " + baseUrl + "; build it with -DKESTRUN_BASE_URL=http://127.0.0.1:<port>";
  return server;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> stepNames = {"download", "small", "update", "check", "start",
                                              "link", "large", "resume", "rollback", "steer", "edge"};
  for (int i = 1; i < argc; ++i) {
    if (std::find(stepNames.begin(), stepNames.end(), argv[i]) == stepNames.end()) {
      std::fprintf(stderr,
                   "usage: %s [download] [small] [update] [check] [start] [link] [large] [resume] [rollback]"
                   " [steer] [edge]   (no names: all but link, large, resume, steer and edge)\n",
                   argv[0]);
      return 2;
    }
  }
  const HttpLibrary httpLibrary;
  if (!httpLibrary.ready()) {
    std::fprintf(stderr, "HTTP library set-up failed: %s\n", httpLibrary.errorText().c_str());
    return 1;
  }
  std::string errorText;
  describeMachine();

  testing_support::TempDir work;
  bench::Workspace workspace;
  workspace.work = work.path();
  workspace.servedRoot = work / "served";
  std::filesystem::create_directories(workspace.servedRoot);

  LauncherServer launcher = launcherServer(KESTRUN_BENCH_BASE_URL);
  bench::NginxServer nginx;
  if (!nginx.start(work / "nginx", workspace.servedRoot, launcher.port, errorText)) {
    if (launcher.port == 0) {
      std::fprintf(stderr, "nginx could not be started: %s\n", errorText.c_str());
      return 1;
    }
    // The launcher's port is taken: everything else is still measured, on another port.
    launcher.usable = false;
    launcher.whyNot = "port " + std::to_string(launcher.port) + " of the launcher's server is taken";
    if (!nginx.start(work / "nginx", workspace.servedRoot, 0, errorText)) {
      std::fprintf(stderr, "nginx could not be started: %s\n", errorText.c_str());
      return 1;
    }
  }
  workspace.baseUrl = nginx.baseUrl();
  workspace.server = &nginx;
  std::printf("server: nginx at %s\n\n", workspace.baseUrl.c_str());

  // Every figure but the link's (five minutes), the large file's (publishes of minutes), the
  // rollouts' and the edges' (minutes of waves) by default; naming some runs only those.
  const auto wanted = [argc, argv](const char* step) {
    if (argc < 2) {
      return std::string(step) != "link" && std::string(step) != "large" && std::string(step) != "resume" &&
             std::string(step) != "steer" && std::string(step) != "edge";
    }
    for (int i = 1; i < argc; ++i) {
      if (std::string(argv[i]) == step) return true;
    }
    return false;
  };
  const std::pair<const char*, std::function<bench::Figures()>> steps[] = {
      {"download", [&] { return bench::runLargeDownload(workspace); }},
      {"small", [&] { return bench::runSmallFiles(workspace); }},
      {"update", [&] { return bench::runUpdate(workspace); }},
      {"check", [&] { return bench::runCheck(workspace); }},
      {"start", [&] { return bench::runStart(workspace, launcher.usable, launcher.whyNot); }},
      {"link", [&] { return bench::runLink(workspace); }},
      {"large", [&] { return bench::runLargeFile(workspace); }},
      {"resume", [&] { return bench::runResume(workspace); }},
      {"rollback", [&] { return bench::runRollback(workspace, launcher.usable, launcher.whyNot); }},
      {"steer", [&] { return bench::runSteer(workspace); }},
      {"edge", [&] { return bench::runEdge(workspace); }},
  };
  bench::Figures all;
  for (const auto& [step, run] : steps) {
    if (!wanted(step)) continue;
    std::fprintf(stderr, "measuring: %s\n", step);
    const bench::Figures figures = run();
    all.insert(all.end(), figures.begin(), figures.end());
  }
  // In the order of the goals' table: the memory of the large download comes last.
  std::stable_partition(all.begin(), all.end(),
                        [](const bench::Figure& figure) { return figure.goal != bench::Goal::ValueAtMost; });
  std::printf("%-58s %10s %10s %7s  %-13s\n", "figure", "launcher", "baseline", "ratio", "goal");
  for (const bench::Figure& figure : all) printFigure(figure);

  nginx.stop();
  const bool allMet = std::all_of(all.begin(), all.end(), [](const bench::Figure& figure) { return figure.met(); });
  std::printf("\nload average at the end: %s\n%s\n", firstLine("/proc/loadavg").c_str(),
              allMet ? "all goals met" : "some goals missed");
  return allMet ? 0 : 1;
}
