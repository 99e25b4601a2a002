#pragma once

#include <string>
#include <vector>

// One measured figure, printed as a line of the report, and whether it met its target.
namespace bench {

struct Figure {
  std::string name;
  double value = 0.0;
  std::string unit;
  std::string target;  // empty: reported only
  bool met = true;
};

using Figures = std::vector<Figure>;

// Each returns its figures; a set-up or transfer failure comes back as a missed figure
// named after the step, so the run still prints everything it could measure.
Figures runDownloadBench();
Figures runCheckBench();
Figures runProgressBench();

}  // namespace bench
