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
// Two files in subfolders, with names that need percent-encoding in a request:
//   bin/My File+1 ü.dll, data/levels/level 1.dat
void addNestedFiles(Release& release);
// The requests of a first installation of the sample release with the nested files: the
// manifest, then every file in path order.
std::vector<std::string> firstInstallationRequests();

// Runs go through the program's runner (runner()): a runner that cannot run the launcher
// fails the case.
class LauncherEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  RunOptions runOptions() const { return runner().options(); }

  fs::path root() const { return temp_.path(); }
  fs::path faultsFile() const { return root() / "faults.txt"; }
  Release& release() { return release_; }
  // Starts the server on the launcher's port; check running() afterwards.
  std::unique_ptr<ReleaseServer> startServer();
  // An installation of the sample release whose main program stays, and a release in which
  // data/config.txt changed but hangs for a minute on its way: long enough to cancel it.
  Installation installationWithStalledDownload();

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

// A whole run of an installation whose main program is running: nothing to fetch, and the
// program started early goes on.
std::vector<Expected> nothingToFetchLines(const Installation& installation);
// A whole run that finds `pending` files to fetch: the early start is stopped, `afterStop`
// follows, and the main program is started and watched again.
std::vector<Expected> updateRunLines(const Installation& installation, int pending,
                                     const std::vector<Expected>& afterStop);
// A download of `files` plain files, every one of which lands.
std::vector<Expected> landedLines(int files);

// The end of a run cancelled in its progress window (see installationWithStalledDownload):
// the launcher ends well, the installation is unchanged and the old program runs again with
// `args`.
void expectCancelledUpdate(const Installation& installation, Installation::Started started,
                           const std::vector<std::string>& args);

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
