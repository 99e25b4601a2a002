#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/load/load_settings.h"

// Simulated launchers on libcurl's multi interface, all on one thread. Each client asks for
// the manifest, then for its files one after another, every request on a fresh connection
// as the launcher makes them. A file answer counts as an error unless it is a 200 with
// exactly the size the manifest gave.
namespace load {

struct LoadResult {
  long requests = 0;                    // finished, successfully or not
  long errors = 0;
  std::map<std::string, long> errorKinds;  // "HTTP 404", "short body", a curl text, ...
  std::vector<double> latenciesMs;      // one per finished request
  std::uint64_t bytes = 0;              // body bytes received
  double seconds = 0;                   // wall time of the run
  int clientsFinished = 0;              // clients that got through all their requests
  bool stoppedByTimeLimit = false;
  bool stoppedByRequestLimit = false;
};

// Runs the load. False only when the run cannot be set up at all (no curl); failed requests
// are counted in the result.
bool runLoad(const LoadSettings& settings, LoadResult& result, std::string& error);

}  // namespace load
