#include "tools/load/latency_summary.h"

#include <algorithm>
#include <cmath>

namespace load {

namespace {

double nearestRank(const std::vector<double>& sorted, double percentile) {
  const auto rank = static_cast<std::size_t>(std::ceil(percentile / 100.0 * sorted.size()));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

LatencySummary summarizeLatencies(std::vector<double> latenciesMs) {
  LatencySummary summary;
  if (latenciesMs.empty()) return summary;
  std::sort(latenciesMs.begin(), latenciesMs.end());
  summary.p50Ms = nearestRank(latenciesMs, 50);
  summary.p99Ms = nearestRank(latenciesMs, 99);
  summary.maxMs = latenciesMs.back();
  return summary;
}

}  // namespace load
