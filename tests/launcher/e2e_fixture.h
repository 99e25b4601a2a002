#pragma once

// What the end-to-end tests share: a temporary root per test holding the release, the
// server's faults file and output, and the installation; the sample release; and the log
// lines that every run writes in the same words.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launcher/launcher_harness.h"
#include "tests/support/temp_dir.h"

namespace e2e {

// Modification times of the sample release (seconds since 1970).
constexpr std::int64_t kVardelTime = 1700000000;
constexpr std::int64_t kConfigTime = 1700000100;
constexpr std::int64_t kReadmeTime = 1700000200;

// The sample release: the main program and two small files.
//   Vardel.exe, data/config.txt, readme.txt
void publishSampleRelease(Release& release);

class LauncherEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;

  fs::path root() const { return temp_.path(); }
  fs::path faultsFile() const { return root() / "faults.txt"; }
  Release& release() { return release_; }
  // Starts the server on the launcher's port; check running() afterwards.
  std::unique_ptr<ReleaseServer> startServer();

 private:
  testing_support::TempDir temp_;
  Release release_{temp_.path() / "release"};
  int serverNumber_ = 0;
};

// Log lines, in the launcher's words.
std::vector<Expected> startLines(const Installation& installation, bool mainProgramPresent);
std::vector<Expected> earlyStartLines(const Installation& installation);
std::vector<Expected> stopLines();
std::vector<Expected> observeLines(const Installation& installation);
Expected checkStartLine();
Expected closingLine();

// Concatenates groups of expected lines.
std::vector<Expected> concat(std::initializer_list<std::vector<Expected>> groups);

// The request line the release server logs for a launcher request that got `status`.
std::string requestLine(const std::string& target, int status);

// The first line of update.log after its time stamp, and the server line after it.
std::string reportCountsLine(int listed, int pending, int forbidden, int locked);
std::string reportServerLine();
// True when `line` is "[YYYY-MM-DD HH:MM:SS] " + `counts`.
bool isStampedReportLine(const std::string& line, const std::string& counts);

}  // namespace e2e
