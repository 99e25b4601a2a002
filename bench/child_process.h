#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Runs one helper program to its end: how long it took, how it ended, how much memory it used.
namespace bench {

struct ChildRun {
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;           // -1 when it did not exit normally
  double seconds = 0.0;        // from the spawn to the reaped exit
  double peakResidentMiB = 0;  // the kernel's high-water mark of the child (ru_maxrss)
};

// The current environment with `overrides` ("NAME=value") put in and the names in `removed`
// taken out.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides,
                                         const std::vector<std::string>& removed);

// Starts `arguments[0]` (a path, no search) with the environment given, standard output and
// error appended to `outputFile`, and waits at most timeoutSeconds; a child that takes longer
// is killed (its run reports timedOut).
ChildRun runChild(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                  const std::filesystem::path& outputFile, double timeoutSeconds);

// A short account of a failed run for the report, with the start of what it printed.
std::string describeFailure(const ChildRun& run, const std::filesystem::path& outputFile);

}  // namespace bench
