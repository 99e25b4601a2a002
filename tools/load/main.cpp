// kestrun-load: many simulated launchers against an update server on 127.0.0.1.
//
//   kestrun-load --base http://127.0.0.1:PORT [--platform windows] [--clients 20] [--files 50]
//                [--max-requests 100000] [--time-limit 60]
//
// Prints requests per second, p50/p99 latency and the errors by kind. Exit status 0 when
// every client got through without an error, 1 otherwise, 2 for a bad command line.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "tools/load/latency_summary.h"
#include "tools/load/load_run.h"
#include "tools/load/load_settings.h"

namespace {

void printUsage(std::ostream& out) {
  out << "usage: kestrun-load --base http://127.0.0.1:PORT [--platform NAME] [--clients N]\n"
         "                    [--files N] [--max-requests N] [--time-limit SECONDS]\n"
         "  --clients N       simulated launchers at the same time (default 20, at most "
      << load::kMaxClients << ")\n"
      << "  --files N         files each client fetches after the manifest (default 50)\n"
         "  --max-requests N  no request is started beyond this many (default 100000)\n"
         "  --time-limit S    the run stops after S seconds (default 60, at most "
      << load::kMaxTimeLimitSeconds << ")\n";
}

void printReport(const load::LoadSettings& settings, const load::LoadResult& result) {
  const load::LatencySummary latency = load::summarizeLatencies(result.latenciesMs);
  const double seconds = result.seconds > 0 ? result.seconds : 1e-9;
  std::printf("kestrun-load: %s, %d clients x (manifest + %d files)\n", settings.baseUrl.c_str(),
              settings.clients, settings.filesPerClient);
  std::printf("kestrun-load: %ld requests in %.2f s: %.1f requests/s, %.1f MB/s\n",
              result.requests, result.seconds, result.requests / seconds,
              static_cast<double>(result.bytes) / seconds / 1e6);
  std::printf("kestrun-load: latency p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", latency.p50Ms,
              latency.p99Ms, latency.maxMs);
  std::printf("kestrun-load: %d of %d clients finished, %ld errors\n", result.clientsFinished,
              settings.clients, result.errors);
  for (const auto& [kind, count] : result.errorKinds) {
    std::printf("kestrun-load: error: %s: %ld\n", kind.c_str(), count);
  }
  if (result.stoppedByTimeLimit) std::printf("kestrun-load: stopped by the time limit\n");
  if (result.stoppedByRequestLimit) std::printf("kestrun-load: stopped by the request limit\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    printUsage(std::cout);
    return 0;
  }
  load::LoadSettings settings;
  std::string error;
  if (!load::parseLoadSettings(arguments, settings, error)) {
    std::cerr << "kestrun-load: " << error << "\n";
    printUsage(std::cerr);
    return 2;
  }
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
    std::cerr << "kestrun-load: curl initialisation failed\n";
    return 1;
  }
  load::LoadResult result;
  const bool ran = load::runLoad(settings, result, error);
  curl_global_cleanup();
  if (!ran) {
    std::cerr << "kestrun-load: " << error << "\n";
    return 1;
  }
  printReport(settings, result);
  const bool clean = result.errors == 0 && result.clientsFinished == settings.clients;
  return clean ? 0 : 1;
}
