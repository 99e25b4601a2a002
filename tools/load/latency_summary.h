#pragma once

#include <vector>

// Percentiles of the request latencies of one run.
namespace load {

struct LatencySummary {
  double p50Ms = 0;
  double p99Ms = 0;
  double maxMs = 0;
};

// Nearest-rank percentiles; all zero for no samples.
LatencySummary summarizeLatencies(std::vector<double> latenciesMs);

}  // namespace load
