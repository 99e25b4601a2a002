#pragma once

// The update runs that the Linux and the Wine end-to-end programs share: an existing
// installation whose main program is running when the check finds files to fetch, a first
// installation of a whole release, and a file deep enough to pass 300 characters. Each program
// instantiates the tables with the rows for its platform and runs them through its runner.

#include <string>
#include <utility>
#include <vector>

#include "tests/launcher/e2e_fixture.h"

namespace e2e {

// One file that the release changes against the mirrored installation.
struct ReleaseChange {
  std::string path;
  std::string content;  // for Vardel.exe: bytes appended to the program, which still runs
  std::int64_t mtime;
  bool applied;         // whether the installation holds the release's file afterwards
};

struct ExistingInstallationRow {
  std::string name;
  Platforms platforms;
  std::vector<std::pair<std::string, std::string>> installed;  // written over the mirror first
  std::vector<ReleaseChange> changes;
  std::string faults;
  int pending;                      // 0: nothing is fetched and the early start goes on
  std::vector<Expected> afterStop;  // the log lines between the stop and the restart
  std::string reportCounts;
  std::vector<std::string> reportEntries;
  std::vector<std::string> fileRequests;  // after the manifest request
  bool restartedWithUpdated;
};
// The rows for this program's platform.
std::vector<ExistingInstallationRow> existingInstallationRows();
class ExistingInstallation : public LauncherEndToEnd,
                             public ::testing::WithParamInterface<ExistingInstallationRow> {};

struct FirstInstallationRow {
  std::string name;
  Platforms platforms;
  bool links;  // two symbolic links in the release besides the files
  bool longDirectory = false;  // an installation directory of more than 300 characters
};
std::vector<FirstInstallationRow> firstInstallationRows();
class FirstInstallation : public LauncherEndToEnd,
                          public ::testing::WithParamInterface<FirstInstallationRow> {};

// A release that asks for automatic rollback, whose program does `behaviour` at every start.
struct AutoRollbackRow {
  std::string name;
  std::string behaviour;  // of the sample main program: "exit 3", "crash 1", "exit 0", "stay 60"
  bool rolledBack;        // taken back after its second failed start; else its probation ends
};
std::vector<AutoRollbackRow> autoRollbackRows();
class AutoRollbackRelease : public LauncherEndToEnd, public ::testing::WithParamInterface<AutoRollbackRow> {};

// Failure messages and case names name the row, not its bytes.
void PrintTo(const ExistingInstallationRow& row, std::ostream* out);
void PrintTo(const FirstInstallationRow& row, std::ostream* out);
void PrintTo(const AutoRollbackRow& row, std::ostream* out);
struct RowName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return info.param.name;
  }
};

}  // namespace e2e
