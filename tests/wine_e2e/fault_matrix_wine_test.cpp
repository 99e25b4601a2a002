// The fault matrix with the real Kestrun.exe under Wine: the rows of the one table
// (tests/faults/fault_rows.h) that make sense on Windows, with the same end-state checks. A
// row that does not is skipped with its reason. The target that cannot be replaced, and the
// lock file of the row that reads it, are held open sharing reading only by a Windows program,
// as a virus scanner would.

#include "tests/faults/fault_rows.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using faults::Local;

class WineLocalFaults : public faults::LocalFaults {
 public:
  ~WineLocalFaults() override {
    if (!holder_) return;
    testing_support::writeFile(releaseFile_, "");
    std::uint32_t errorCode = 0;
    if (platform::waitForExit(*holder_, 30000, errorCode) != platform::WaitResult::Exited) {
      platform::terminateProcess(*holder_, 0, errorCode);
    }
  }

  void prepare(Local local, const e2e::Installation& installation, e2e::RunOptions&) override {
    switch (local) {
      case Local::None:
        return;
      case Local::StagingIsAFile:
        testing_support::writeFile(installation.dir() / "update_staging",
                                   "a plain file where the staging directory goes\n");
        return;
      case Local::TargetCannotBeReplaced:
        holdOpen(installation, installation.dir() / "docs/manual.txt");
        return;
      case Local::LockIsAFolder:
        fs::create_directories(installation.dir() / "update.lock");
        return;
      case Local::LockFileRead:
        testing_support::writeFile(installation.dir() / "update.lock", "");
        holdOpen(installation, installation.dir() / "update.lock");
        return;
      case Local::DiskFull:
      case Local::ReadOnlyInstallation:
      case Local::LockHeld:
      case Local::UpdateInProgress:
      case Local::LockIsAReadOnlyFifo:
      case Local::LockFileReadOnly:
        FAIL() << "no such fault under Wine";
    }
  }

 private:
  void holdOpen(const e2e::Installation& installation, const fs::path& file) {
    wineNote("sharing modes are kept by the Wine server among Windows processes only (the holder is a "
             "Windows program of the same prefix), and Wine's text for error 32 is its own");
    // Beside the installation, where the runs' own output goes: not part of the "outside".
    const fs::path scratch = installation.dir().parent_path() / (installation.dir().filename().string() + "-runs");
    const fs::path held = scratch / "holder.held";
    releaseFile_ = scratch / "holder.release";
    holder_ = session().start({"wine", KESTRUN_WINE_LOCK_HOLDER, e2e::launcherPathText(file),
                               e2e::launcherPathText(held), e2e::launcherPathText(releaseFile_)},
                              scratch / "holder.out");
    ASSERT_TRUE(holder_);
    for (int waited = 0; !fs::exists(held) && waited < 600; ++waited) {
      std::uint32_t errorCode = 0;
      ASSERT_EQ(platform::waitForExit(*holder_, 50, errorCode), platform::WaitResult::TimedOut)
          << "the lock holder ended: " << testing_support::readFile(scratch / "holder.out.err");
    }
    ASSERT_TRUE(fs::exists(held)) << "the lock holder did not open the file";
  }

  platform::ProcessHandle holder_;
  fs::path releaseFile_;
};

class WineFaultMatrix : public WineEndToEnd, public ::testing::WithParamInterface<faults::FaultRow> {};

TEST_P(WineFaultMatrix, LeavesAWorkingInstallation) {
  const faults::FaultRow& row = GetParam();
  if (!row.notUnderWine.empty()) GTEST_SKIP() << row.notUnderWine;
  for (const char* launcher : {KESTRUN_FAULTS_SHORT_STALL_LAUNCHER, KESTRUN_FAULTS_PARALLEL_LAUNCHER}) {
    ASSERT_TRUE(fs::exists(launcher)) << "build the test launchers of tests/faults in the Windows build";
  }
  if (row.peakLimitMiB > 0) {
    wineNote("the peak memory is that of the Linux process hosting Kestrun.exe, Wine's own memory included");
  }
  WineLocalFaults local;
  faults::runFaultRow(row, {root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()},
                      {KESTRUN_FAULTS_SHORT_STALL_LAUNCHER, KESTRUN_FAULTS_PARALLEL_LAUNCHER}, local);
}

INSTANTIATE_TEST_SUITE_P(Rows, WineFaultMatrix, ::testing::ValuesIn(faults::faultRows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wine_e2e
