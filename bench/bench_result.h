#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// One figure of the report: the launcher's value next to its baseline from the same run, and
// the goal that the ratio (or, without a baseline, the value) must meet.
namespace bench {

enum class Goal { RatioAtLeast, RatioAtMost, ValueAtMost };

struct Figure {
  std::string name;  // with its unit
  double launcher = 0.0;
  double baseline = 0.0;  // 0: the figure has no baseline
  Goal goal = Goal::RatioAtMost;
  double limit = 0.0;
  std::string failure;  // why the figure could not be measured; empty when it was

  bool hasBaseline() const { return baseline > 0.0; }
  double ratio() const { return launcher / baseline; }
  bool met() const {
    if (!failure.empty()) return false;
    switch (goal) {
      case Goal::RatioAtLeast: return hasBaseline() && ratio() >= limit;
      case Goal::RatioAtMost: return hasBaseline() && ratio() <= limit;
      case Goal::ValueAtMost: return launcher <= limit;
    }
    return false;
  }
};

using Figures = std::vector<Figure>;

inline Figure failedFigure(std::string name, Goal goal, double limit, std::string why) {
  Figure figure;
  figure.name = std::move(name);
  figure.goal = goal;
  figure.limit = limit;
  figure.failure = std::move(why);
  return figure;
}

// A measured figure: the launcher's value, its baseline from the same run (0: none) and the
// limit its goal sets.
inline Figure measuredFigure(std::string name, double launcher, double baseline, Goal goal, double limit) {
  Figure figure;
  figure.name = std::move(name);
  figure.launcher = launcher;
  figure.baseline = baseline;
  figure.goal = goal;
  figure.limit = limit;
  return figure;
}

class NginxServer;

// What every measurement shares: one work folder, the folder nginx serves and its address.
struct Workspace {
  std::filesystem::path work;
  std::filesystem::path servedRoot;  // <platform>/manifest.json, <platform>/files/<path>, <platform>/objects/
  std::string baseUrl;
  const NginxServer* server = nullptr;  // for the bytes it sent
};

// The median of a list of measurements (the list is reordered).
double median(std::vector<double> values);

// Writes `bytes` random bytes (from `seed`) into `file`, creating its folders.
bool writeRandomFile(const std::filesystem::path& file, std::uint64_t bytes, std::uint32_t seed);

// Large and many small downloads: throughput, peak memory, many-file time.
Figures runLargeDownload(const Workspace& workspace);
Figures runSmallFiles(const Workspace& workspace);
// An update and a first installation of a published release with compressed copies and
// patches: bytes moved, time and memory, against the whole files.
Figures runUpdate(const Workspace& workspace);
// One file of 256 MiB, a first installation and an update by patch: bytes moved and peak
// memory, and what its publish costs.
Figures runLargeFile(const Workspace& workspace);
// The check of a large manifest of installed, up-to-date files.
Figures runCheck(const Workspace& workspace);
// Many files over a simulated long-distance link, one at a time and several at once, over
// http and https.
Figures runLink(const Workspace& workspace);
// A first installation of a large file over a link that drops once.
Figures runResume(const Workspace& workspace);
// From the launcher's start to the main program's start. `launcherServes` is false when the
// launcher's built-in server is not the loopback one started here, which the figure needs.
Figures runStart(const Workspace& workspace, bool launcherServes, const std::string& whyNot);

}  // namespace bench
