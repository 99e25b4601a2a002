#include "launcher/locked_file_patterns.h"

#include "launcher/build_config.h"
#include "update/launcher_files.h"

std::vector<std::string> lockedFilePatterns() {
  std::vector<std::string> patterns = lockedProductPatterns();
  // The product's names stay locked everywhere: an installation carries Kestrun.exe on every
  // platform, and a differing copy must not replace it where another launcher runs.
  if (patterns.front() != launcherFileName) patterns.insert(patterns.begin(), launcherFileName);
  return patterns;
}
