// The origin's load behind two Varnish edges (deploy/varnish/kestrun.vcl) in front of nginx
// with the project's configuration (deploy/nginx/kestrun.conf): waves of 200 real, signed
// launchers, half on each edge, install a release and then update to the next; what the origin
// sends is set against what one launcher alone takes from it, in the same run. Then kestrun-load
// through an edge against the origin alone.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <thread>

#include "bench/bench_result.h"
#include "bench/child_process.h"

extern "C" char** environ;

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kWave = 200;
constexpr int kAtOnce = 50;  // launchers running at the same moment
constexpr int kSmallFiles = 100;
constexpr int kChangedSmallFiles = 10;
constexpr double kOriginGoal = 1.1;  // times the bytes of one launcher, per edge
constexpr long long kFirstReleaseTime = 1796860800;

// A server started by its own pid (run-local.sh execs it) and stopped by it.
struct Server {
  pid_t pid = 0;
  int port = 0;
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port); }
  ~Server() {
    if (pid == 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// Starts `/bin/sh script arguments... --listen 127.0.0.1:PORT`; up once the port accepts.
bool startServer(Server& server, const std::vector<std::string>& command, const fs::path& output) {
  server.port = freePort();
  std::vector<std::string> arguments = command;
  arguments.insert(arguments.end(), {"--listen", "127.0.0.1:" + std::to_string(server.port)});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const bool spawned = posix_spawn(&server.pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) server.pid = 0;
  for (int poll = 0; spawned && poll < 300 && !accepts(server.port); ++poll) {
    if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) server.pid = 0;
    if (server.pid == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return server.pid != 0 && accepts(server.port);
}

std::uintmax_t sizeOf(const fs::path& file) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  return error ? 0 : size;
}

// Requests and body bytes of the origin's access log (nginx's combined format) from `offset`.
struct Traffic {
  std::uint64_t requests = 0, notModified = 0, bytes = 0;
};
Traffic originTraffic(const fs::path& log, std::uintmax_t offset) {
  std::ifstream in(log);
  in.seekg(static_cast<std::streamoff>(offset));
  Traffic traffic;
  const std::regex answer("\" (\\d{3}) (\\d+) \"");
  std::smatch match;
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_search(line, match, answer)) continue;
    ++traffic.requests;
    traffic.notModified += match[1] == "304";
    traffic.bytes += std::stoull(match[2]);
  }
  return traffic;
}

// An edge's own count of client requests and body bytes (varnishstat).
Traffic edgeTraffic(const fs::path& workdir, const fs::path& output) {
  fs::remove(output);
  runChild({"/usr/bin/varnishstat", "-n", (workdir / "varnish").string(), "-1", "-f", "MAIN.client_req", "-f",
            "MAIN.s_resp_bodybytes"},
           environmentWith({}, {}), output, 30);
  std::ifstream in(output);
  Traffic traffic;
  std::string name;
  std::uint64_t value = 0;
  while (in >> name >> value) {
    if (name == "MAIN.client_req") traffic.requests = value;
    if (name == "MAIN.s_resp_bodybytes") traffic.bytes = value;
    in.ignore(1 << 12, '\n');
  }
  return traffic;
}

using Files = std::map<std::string, std::string>;

// Release n: the program, 100 small text files and a 2 MiB table; release 2 changes ten of the
// small files and four lines of the table.
Files releaseFiles(int n) {
  std::ifstream program(KESTRUN_BENCH_SAMPLE_PROGRAM, std::ios::binary);
  Files files = {{"Vardel.exe", std::string(std::istreambuf_iterator<char>(program), {})},
                 {"vardel-behaviour.txt", "exit 0\n"}};
  std::string table;
  for (int line = 0; table.size() < (2u << 20); ++line) {
    table += std::to_string(line) + ",station-" + std::to_string(line * 7919 % 1009) + "," +
             std::to_string(line * 104729 % 99991) + ",ok\n";
  }
  for (int i = 0; n == 2 && i < 4; ++i) table.replace(table.size() / 5 * (i + 1), 6, "edited");
  files["data/table.csv"] = table;
  for (int i = 0; i < kSmallFiles; ++i) {
    std::string text;
    const int release = i < kChangedSmallFiles ? n : 1;
    for (int line = 0; text.size() < 1024u * (1 + i % 40); ++line) {
      text += "file " + std::to_string(i) + " line " + std::to_string(line * (i + 3) % 877) + " release " +
              std::to_string(release) + "\n";
    }
    files["data/small-" + std::to_string(i) + ".txt"] = text;
  }
  return files;
}

struct EdgeRun {
  fs::path work;
  std::string publicKey;
  std::string failure;
  Files release;  // what every installation must hold after the present wave
};

bool publishRelease(EdgeRun& run, int n) {
  const fs::path source = run.work / ("release-" + std::to_string(n));
  run.release = releaseFiles(n);
  const Files first = releaseFiles(1);
  for (const auto& [path, content] : run.release) {
    fs::create_directories((source / path).parent_path());
    std::ofstream(source / path, std::ios::binary) << content;
    // A file keeps the time of the release that changed it last, as a build tree would.
    const int changedIn = content == first.at(path) ? 1 : n;
    fs::last_write_time(source / path, std::chrono::file_clock::from_sys(std::chrono::sys_seconds(
                                           std::chrono::seconds(kFirstReleaseTime + 3600 * changedIn))));
  }
  const fs::path output = run.work / "publish.out";
  const ChildRun published = runChild({KESTRUN_BENCH_PUBLISH, "--source", source.string(), "--site",
                                       (run.work / "site").string(), "--platform", "windows", "--sign-key",
                                       (run.work / "signing.key").string(), "--health-reports"},
                                      environmentWith({}, {}), output, 600);
  if (published.exitCode != 0) run.failure = "kestrun-publish " + describeFailure(published, output);
  return published.exitCode == 0;
}

fs::path installation(const EdgeRun& run, int i) { return run.work / ("install-" + std::to_string(i)); }

// Every installation gets its launcher before any runs: an executable still open for writing
// in one thread while another forks cannot be started (ETXTBSY).
void prepareInstallations(const EdgeRun& run) {
  for (int i = 0; i <= kWave; ++i) {
    fs::create_directories(installation(run, i));
    fs::copy_file(KESTRUN_BENCH_SIGNED_LAUNCHER, installation(run, i) / "Kestrun");
  }
}

// One launcher run of installation i against `baseUrl`; false when it did not end with 0.
bool runLauncher(const EdgeRun& run, int i, const std::string& baseUrl) {
  const fs::path dir = installation(run, i);
  const fs::path home = run.work / "home";
  const ChildRun launcher = runChild(
      {(dir / "Kestrun").string()},
      environmentWith({"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
                       "KESTRUN_TEST_BASE_URL=" + baseUrl, "KESTRUN_TEST_MANIFEST_KEY=" + run.publicKey},
                      {"DISPLAY"}),
      dir.string() + ".out", 120);
  return launcher.exitCode == 0;
}

// Installations that do not hold the release whole (a failed run, a mix, a wrong byte).
// The first one's launcher log is printed, to say why.
int notOnRelease(const EdgeRun& run, int first, int count) {
  int wrong = 0;
  for (int i = first; i < first + count; ++i) {
    for (const auto& [path, content] : run.release) {
      std::ifstream in(installation(run, i) / path, std::ios::binary);
      if (std::string(std::istreambuf_iterator<char>(in), {}) == content) continue;
      std::error_code error;
      for (const auto& log : fs::directory_iterator(installation(run, i) / "logs", error)) {
        std::ifstream text(log.path());
        if (wrong == 0) std::printf("installation %d, not on the release:\n%s\n", i, std::string(std::istreambuf_iterator<char>(text), {}).c_str());
      }
      ++wrong;
      break;
    }
  }
  return wrong;
}

// A wave: installations 1..200, even ones through the first edge, odd through the second,
// kAtOnce at a time. Returns the origin's and the edges' traffic over the wave.
std::pair<Traffic, Traffic> runWave(const EdgeRun& run, const fs::path& originLog, const Server edges[2],
                                    double& seconds) {
  const std::uintmax_t offset = sizeOf(originLog);
  Traffic before[2] = {edgeTraffic(run.work / "edge-0", run.work / "stat.out"),
                       edgeTraffic(run.work / "edge-1", run.work / "stat.out")};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::future<void>> workers;
  for (int worker = 0; worker < kAtOnce; ++worker) {
    workers.push_back(std::async(std::launch::async, [&, worker] {
      for (int i = 1 + worker; i <= kWave; i += kAtOnce) runLauncher(run, i, edges[i % 2].baseUrl());
    }));
  }
  for (auto& worker : workers) worker.get();
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Traffic served;
  for (int e = 0; e < 2; ++e) {
    const Traffic after = edgeTraffic(run.work / ("edge-" + std::to_string(e)), run.work / "stat.out");
    served.requests += after.requests - before[e].requests;
    served.bytes += after.bytes - before[e].bytes;
  }
  // nginx writes a line as its answer ends: a moment for the last ones.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return {originTraffic(originLog, offset), served};
}

constexpr double kMiB = 1024.0 * 1024.0;

// One wave's figures: the origin's bytes against one launcher's alone (per edge), the edges'
// against 200 launchers', and the installations left off the release.
void waveFigures(const EdgeRun& run, const std::string& what, const Traffic& alone, const Traffic& origin,
                 const Traffic& edges, double seconds, Figures& figures) {
  std::printf("%s: one launcher alone took %llu requests, %.3f MiB from the origin; the wave of %d through 2 edges "
              "in %.1f s: edges served %llu requests, %.3f MiB; the origin %llu requests (%llu of them 304), "
              "%.3f MiB\n",
              what.c_str(), static_cast<unsigned long long>(alone.requests), alone.bytes / kMiB, kWave, seconds,
              static_cast<unsigned long long>(edges.requests), edges.bytes / kMiB,
              static_cast<unsigned long long>(origin.requests), static_cast<unsigned long long>(origin.notModified),
              origin.bytes / kMiB);
  figures.push_back(measuredFigure("edge, " + what + ": origin's bytes, MiB (baseline: 2 x one alone)",
                                   origin.bytes / kMiB, 2 * alone.bytes / kMiB, Goal::RatioAtMost, kOriginGoal));
  figures.push_back(measuredFigure("edge, " + what + ": edges' bytes, MiB (baseline: 200 x one)", edges.bytes / kMiB,
                                   kWave * alone.bytes / kMiB, Goal::RatioAtLeast, 0.99));
  figures.push_back(measuredFigure("edge, " + what + ": installations not on the release", notOnRelease(run, 1, kWave),
                                   0, Goal::ValueAtMost, 0));
}

// kestrun-load's requests per second against `baseUrl`; 0 when a client failed.
double loadRate(const EdgeRun& run, const std::string& baseUrl) {
  const fs::path output = run.work / "load.out";
  fs::remove(output);
  const ChildRun load = runChild({KESTRUN_BENCH_LOAD, "--base", baseUrl, "--clients", "20", "--files", "50"},
                                 environmentWith({}, {}), output, 120);
  std::ifstream in(output);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::smatch rate;
  if (load.exitCode != 0 || !std::regex_search(text, rate, std::regex("([0-9.]+) requests/s"))) return 0;
  return std::stod(rate[1]);
}

}  // namespace

Figures runEdge(const Workspace& workspace) {
  EdgeRun run;
  run.work = workspace.work / "edge";
  fs::create_directories(run.work / "home");
  const auto failed = [](const std::string& why) {
    return Figures{failedFigure("edge: the waves", Goal::ValueAtMost, 0, why)};
  };
  const fs::path keyOutput = run.work / "keygen.out";
  runChild({KESTRUN_BENCH_KEYGEN, (run.work / "signing.key").string()}, environmentWith({}, {}), keyOutput, 30);
  std::ifstream keyText(keyOutput);
  std::smatch key;
  const std::string printed((std::istreambuf_iterator<char>(keyText)), {});
  if (!std::regex_search(printed, key, std::regex("-DKESTRUN_MANIFEST_PUBLIC_KEY=(\\S+)"))) return failed(printed);
  run.publicKey = key[1];
  if (!publishRelease(run, 1)) return failed(run.failure);
  prepareInstallations(run);

  const fs::path originLog = run.work / "origin-access.log";
  Server origin, edges[2];
  if (!startServer(origin, {"/bin/sh", KESTRUN_BENCH_NGINX_SCRIPT, "--site", (run.work / "site").string(),
                            "--prefix", (run.work / "origin").string(), "--access-log", originLog.string()},
                   run.work / "origin.out")) {
    return failed("nginx did not start: see " + (run.work / "origin.out").string());
  }
  for (int e = 0; e < 2; ++e) {
    const fs::path workdir = run.work / ("edge-" + std::to_string(e));
    if (!startServer(edges[e], {"/bin/sh", KESTRUN_BENCH_VARNISH_SCRIPT, "--origin",
                                "127.0.0.1:" + std::to_string(origin.port), "--workdir", workdir.string()},
                     workdir.string() + ".out")) {
      return failed("varnishd did not start: see " + workdir.string() + ".out");
    }
  }

  Figures figures;
  double seconds = 0;
  const char* steps[] = {"200 first installations", "200 updates"};
  for (int n = 1; n <= 2; ++n) {
    if (n == 2 && !publishRelease(run, 2)) return failed(run.failure);
    // Installation 0 alone against the origin: the bytes one launcher takes.
    const std::uintmax_t offset = sizeOf(originLog);
    if (!runLauncher(run, 0, origin.baseUrl()) || notOnRelease(run, 0, 1) != 0) {
      return failed("the lone launcher did not reach the release: see " + installation(run, 0).string() + ".out");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Traffic alone = originTraffic(originLog, offset);
    const auto [fromOrigin, fromEdges] = runWave(run, originLog, edges, seconds);
    waveFigures(run, steps[n - 1], alone, fromOrigin, fromEdges, seconds, figures);
  }

  // kestrun-load, origin alone and through the first edge, alternating; the median of three,
  // and what the origin sent while the edge was loaded.
  std::vector<double> alone, through;
  Traffic behind, served;
  for (int i = 0; i < 3; ++i) {
    alone.push_back(loadRate(run, origin.baseUrl()));
    const std::uintmax_t offset = sizeOf(originLog);
    const Traffic before = edgeTraffic(run.work / "edge-0", run.work / "stat.out");
    through.push_back(loadRate(run, edges[0].baseUrl()));
    const Traffic after = edgeTraffic(run.work / "edge-0", run.work / "stat.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Traffic origin = originTraffic(originLog, offset);
    behind.requests += origin.requests;
    behind.bytes += origin.bytes;
    served.requests += after.requests - before.requests;
    served.bytes += after.bytes - before.bytes;
  }
  std::printf("kestrun-load, 20 clients of 51 requests: origin alone %.0f requests/s, through an edge %.0f; over the "
              "three runs through the edge it served %llu requests, %.3f MiB, the origin behind it %llu, %.3f MiB\n\n",
              median(alone), median(through), static_cast<unsigned long long>(served.requests), served.bytes / kMiB,
              static_cast<unsigned long long>(behind.requests), behind.bytes / kMiB);
  figures.push_back(measuredFigure("kestrun-load through an edge, requests/s (baseline: origin alone)",
                                   median(through), median(alone), Goal::RatioAtLeast, 0.33));
  // The launchers took compressed copies and patches: each whole file crosses once, for the first.
  double releaseBytes = 0;
  for (const auto& [path, content] : run.release) releaseBytes += content.size();
  figures.push_back(measuredFigure("kestrun-load through an edge: origin's bytes, MiB (baseline: the release's)",
                                   behind.bytes / kMiB, releaseBytes / kMiB, Goal::RatioAtMost, kOriginGoal));
  return figures;
}

}  // namespace bench
