// Many files over a simulated long-distance link (40 ms round trip, 100 Mbit/s per connection,
// a round trip for each new connection's handshake), where a release costs mostly round trips.
// The launcher fetches them one at a time and 8 at once, next to the curl command doing the
// same with one reused connection and with --parallel, over http and https, and next to the
// time the bytes alone need on one connection.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "bench/child_process.h"
#include "bench/link_proxy.h"
#include "bench/nginx_server.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCurl = "/usr/bin/curl";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr LinkProfile kLink{std::chrono::milliseconds(40), 100e6};
constexpr int kParallel = 8;
constexpr double kOneAtATimeGoal = 1.1;
constexpr double kParallelGoal = 1.3;

// The four ways of fetching a set, in the order of the report's columns.
enum Side { LauncherOne, CurlReused, LauncherParallel, CurlParallel, kSides };
const char* const kSideTags[kSides] = {"kestrun-1", "curl-reused", "kestrun-8", "curl-parallel"};
const char* const kSideNames[kSides] = {"Kestrun N=1", "curl reuse", "Kestrun N=8", "curl par 8"};

struct File {
  std::string path;  // below <served root>/bench/files
  std::uint64_t bytes = 0;
};

struct FileSet {
  std::string name;
  std::vector<File> files;
  std::uint64_t totalBytes = 0;
  int repetitions = 1;
  fs::path list;  // for the launcher: "<bytes> <path>" a line; empty: the numbered small files
};

FileSet smallFiles() {
  FileSet set{"300 files of 20 KiB", {}, 0, 3, {}};
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "small/f%05d.bin", i);
    set.files.push_back({name, 20 * 1024});
  }
  return set;
}

// A first installation: 3000 files in 30 folders, sizes spread evenly on a log scale from
// 512 bytes to 128 KiB, the same in every run.
FileSet firstInstallation(const fs::path& list) {
  FileSet set{"3000 files of 0.5-128 KiB", {}, 0, 1, list};
  std::mt19937 random(17);
  for (int i = 0; i < 3000; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "first/d%02d/f%04d.bin", i / 100, i);
    const double scale = static_cast<double>(random() % 100001) / 100000.0;  // 0..1
    set.files.push_back({name, static_cast<std::uint64_t>(512.0 * std::pow(256.0, scale))});
  }
  return set;
}

bool serve(FileSet& set, const fs::path& servedFiles, std::string& errorText) {
  std::ofstream list;
  if (!set.list.empty()) list.open(set.list, std::ios::trunc);
  std::uint32_t seed = 100000;
  for (const File& file : set.files) {
    if (!writeRandomFile(servedFiles / file.path, file.bytes, ++seed)) {
      errorText = "cannot write " + file.path;
      return false;
    }
    set.totalBytes += file.bytes;
    if (list.is_open()) list << file.bytes << ' ' << file.path << '\n';
  }
  if (list.is_open() && !list) errorText = "cannot write " + set.list.string();
  return errorText.empty();
}

double floorSeconds(const FileSet& set) { return static_cast<double>(set.totalBytes) * 8.0 / kLink.bitsPerSecond; }

// Generous: four round trips a file on top of twice the bytes' time.
double timeoutSeconds(const FileSet& set) {
  const double roundTrip = std::chrono::duration<double>(kLink.roundTrip).count();
  return 30.0 + 2.0 * floorSeconds(set) + 4.0 * roundTrip * static_cast<double>(set.files.size());
}

struct Servers {
  const Workspace& workspace;
  const NginxServer& nginx;
  fs::path certificate;
};

std::vector<std::string> launcherCommand(const FileSet& set, Side side, const std::string& baseUrl,
                                         const fs::path& folder, const fs::path& certificate) {
  std::vector<std::string> command = {KESTRUN_BENCH_DOWNLOAD};
  if (set.list.empty()) {
    command.insert(command.end(), {"pending", baseUrl, "bench", folder.string(), std::to_string(set.files.size()),
                                   std::to_string(set.files.front().bytes)});
  } else {
    command.insert(command.end(), {"listed", baseUrl, "bench", folder.string(), set.list.string()});
  }
  command.push_back(side == LauncherParallel ? std::to_string(kParallel) : "1");
  if (!certificate.empty()) command.push_back(certificate.string());
  return command;
}

std::vector<std::string> curlCommand(const FileSet& set, Side side, const std::string& baseUrl,
                                     const fs::path& folder, const fs::path& certificate) {
  const fs::path config = folder / "urls.curlrc";
  std::ofstream out(config, std::ios::trunc);
  for (const File& file : set.files) {
    out << "url = \"" << baseUrl << "/gis/update/file?platform=bench&path=" << file.path << "\"\noutput = \""
        << (folder / "out" / file.path).string() << "\"\n";
  }
  // -q first: no ~/.curlrc of the machine's.
  std::vector<std::string> command = {kCurl, "-q", "-sS", "-f", "--create-dirs"};
  if (!certificate.empty()) command.insert(command.end(), {"--cacert", certificate.string()});
  if (side == CurlParallel) command.insert(command.end(), {"--parallel", "--parallel-max", std::to_string(kParallel)});
  command.insert(command.end(), {"-K", config.string()});
  return command;
}

bool allArrived(const FileSet& set, const fs::path& root) {
  for (const File& file : set.files) {
    std::error_code error;
    if (fs::file_size(root / file.path, error) != file.bytes || error) return false;
  }
  return true;
}

struct Run {
  double seconds = 0;
  int connections = 0;  // accepted by the link during the run
  std::string failure;
};

// One download of the whole set through a link of its own, into a folder of its own.
Run runOnce(const Servers& servers, const FileSet& set, bool https, Side side) {
  Run run;
  const fs::path folder = servers.workspace.work / "link" / (std::string(https ? "https-" : "http-") + kSideTags[side]);
  fs::remove_all(folder);
  fs::create_directories(folder);
  const bool launcher = side == LauncherOne || side == LauncherParallel;
  const double timeout = timeoutSeconds(set);
  const fs::path certificate = https ? servers.certificate : fs::path();

  LinkProxy link;
  const int target = https ? servers.nginx.httpsPort() : servers.nginx.port();
  if (!link.start(target, kLink, std::chrono::seconds(static_cast<long>(timeout) + 10), run.failure)) return run;
  const std::string baseUrl = std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(link.port());
  const std::vector<std::string> command = launcher ? launcherCommand(set, side, baseUrl, folder, certificate)
                                                    : curlCommand(set, side, baseUrl, folder, certificate);
  const fs::path log = folder / "output.log";
  const ChildRun child = runChild(command, environmentWith({}, {}), log, timeout);
  run.connections = link.connections();
  link.stop();

  if (child.exitCode != 0) {
    run.failure = std::string(kSideNames[side]) + ": " + describeFailure(child, log);
  } else if (!allArrived(set, folder / (launcher ? "update_staging" : "out"))) {
    run.failure = std::string(kSideNames[side]) + " left files missing or incomplete";
  } else {
    run.seconds = child.seconds;
  }
  fs::remove_all(folder);
  return run;
}

struct Row {
  std::string name;
  std::vector<double> seconds[kSides];
  int connections[kSides] = {};
  std::string failure[kSides];
  double floor = 0;
};

void addRun(Row& row, Side side, const Run& run) {
  row.connections[side] = run.connections;
  if (!run.failure.empty()) {
    if (row.failure[side].empty()) row.failure[side] = run.failure;
  } else {
    row.seconds[side].push_back(run.seconds);
  }
}

// The repetitions of one set over one scheme each, http and https, side by side. The runs one
// at a time take a round trip a file, minutes for a first installation: the four of them run
// together, which the link allows, as every connection has a link of its own. The runs several
// at once, which use the processor more, go one after another.
void measureSet(const Servers& servers, const FileSet& set, Row rows[2]) {
  for (int repetition = 0; repetition < set.repetitions; ++repetition) {
    std::vector<std::future<Run>> together;
    for (const bool https : {false, true}) {
      for (const Side side : {LauncherOne, CurlReused}) {
        together.push_back(std::async(std::launch::async, [&, https, side] { return runOnce(servers, set, https, side); }));
      }
    }
    for (std::size_t i = 0; i < together.size(); ++i) {
      addRun(rows[i / 2], i % 2 ? CurlReused : LauncherOne, together[i].get());
    }
    for (const bool https : {false, true}) {
      for (const Side side : {LauncherParallel, CurlParallel}) addRun(rows[https], side, runOnce(servers, set, https, side));
    }
  }
}

Figure ratioFigure(const Row& row, Side launcher, Side baseline, const char* how, double goal) {
  const std::string name = "link: " + row.name + ", " + how + ", s";
  for (const Side side : {launcher, baseline}) {
    if (!row.failure[side].empty()) return failedFigure(name, Goal::RatioAtMost, goal, row.failure[side]);
  }
  return measuredFigure(name, median(row.seconds[launcher]), median(row.seconds[baseline]), Goal::RatioAtMost, goal);
}

void printRows(const std::vector<Row>& rows) {
  std::printf("link: %g ms round trip, %g Mbit/s per connection, one more round trip for a new connection\n",
              std::chrono::duration<double, std::milli>(kLink.roundTrip).count(), kLink.bitsPerSecond / 1e6);
  std::printf("%-40s", "seconds (median) [connections]");
  for (const char* side : kSideNames) std::printf(" %17s", side);
  std::printf(" %8s\n", "floor");
  for (const Row& row : rows) {
    std::printf("%-40s", row.name.c_str());
    for (int side = 0; side < kSides; ++side) {
      if (!row.failure[side].empty()) {
        std::printf(" %17s", "failed");
      } else {
        std::printf(" %10.3f [%4d]", median(row.seconds[side]), row.connections[side]);
      }
    }
    std::printf(" %8.3f\n", row.floor);
  }
  std::printf("\n");
  std::fflush(stdout);
}

Figures failAll(const std::string& why) {
  Figures figures;
  for (const char* set : {"300 files of 20 KiB", "3000 files of 0.5-128 KiB"}) {
    for (const char* scheme : {"http", "https"}) {
      const std::string name = std::string("link: ") + set + ", " + scheme;
      figures.push_back(failedFigure(name + ", 1 at a time, s", Goal::RatioAtMost, kOneAtATimeGoal, why));
      figures.push_back(failedFigure(name + ", 8 at once, s", Goal::RatioAtMost, kParallelGoal, why));
    }
  }
  return figures;
}

// A self-signed certificate for 127.0.0.1, made for this run only.
bool makeCertificate(const fs::path& folder, fs::path& certificate, fs::path& key, std::string& errorText) {
  certificate = folder / "server.crt";
  key = folder / "server.key";
  const fs::path log = folder / "openssl.log";
  const ChildRun run =
      runChild({kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", key.string(), "-out", certificate.string(), "-days", "1", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1"},
               environmentWith({}, {}), log, 30);
  if (run.exitCode == 0) return true;
  errorText = std::string(kOpenssl) + " " + describeFailure(run, log);
  return false;
}

}  // namespace

Figures runLink(const Workspace& workspace) {
  const fs::path folder = workspace.work / "link-server";
  fs::create_directories(folder);
  std::string errorText;
  fs::path certificate, key;
  if (!makeCertificate(folder, certificate, key, errorText)) return failAll(errorText);
  NginxServer nginx;
  nginx.serveHttps(certificate, key);
  if (!nginx.start(folder / "nginx", workspace.servedRoot, 0, errorText)) return failAll(errorText);

  FileSet sets[] = {smallFiles(), firstInstallation(folder / "first-installation.list")};
  for (FileSet& set : sets) {
    if (!serve(set, workspace.servedRoot / "bench/files", errorText)) return failAll(errorText);
  }

  const Servers servers{workspace, nginx, certificate};
  std::vector<Row> rows;
  Figures figures;
  for (const FileSet& set : sets) {
    Row pair[2];
    for (const bool https : {false, true}) {
      pair[https].name = set.name + ", " + (https ? "https" : "http");
      pair[https].floor = floorSeconds(set);
    }
    measureSet(servers, set, pair);
    for (const Row& row : pair) {
      figures.push_back(ratioFigure(row, LauncherOne, CurlReused, "1 at a time", kOneAtATimeGoal));
      figures.push_back(ratioFigure(row, LauncherParallel, CurlParallel, "8 at once", kParallelGoal));
      rows.push_back(row);
    }
  }
  nginx.stop();
  printRows(rows);
  return figures;
}

}  // namespace bench
