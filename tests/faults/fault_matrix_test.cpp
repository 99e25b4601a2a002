// The fault matrix with the Linux launcher: every row of the table (fault_rows.h), the local
// faults made with file modes and resource limits.

#include <cstdlib>
#include <fstream>

#include "platform/file_lock.h"
#include "tests/faults/fault_rows.h"

namespace faults {
namespace {

constexpr int kDiskLimitKiB = 32;

// Starts the launcher through a shell that sets the fault up; undoes the modes when the row ends.
class PosixLocalFaults : public LocalFaults {
 public:
  ~PosixLocalFaults() override {
    for (const fs::path& dir : lockedDirs_) fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
  }

  void prepare(Local local, const e2e::Installation& installation, e2e::RunOptions& options) override {
    const fs::path dir = installation.dir();
    switch (local) {
      case Local::None:
        return;
      case Local::DiskFull:
        options.interpreter = diskFullShell(kDiskLimitKiB);
        return;
      case Local::ReadOnlyInstallation:
        // The log, the lock file and the main program's record of its starts are there
        // already, so all can still be written; nothing else can.
        fs::create_directories(dir / "logs");
        testing_support::writeFile(dir / "update.lock", "");
        testing_support::writeFile(dir / "vardel-starts.txt", "");
        lockedDirs_.push_back(dir);
        break;
      case Local::StagingIsAFile:
        testing_support::writeFile(dir / "update_staging", "a plain file where the staging directory goes\n");
        return;
      case Local::TargetCannotBeReplaced:
        lockedDirs_.push_back(dir / "docs");
        break;
      case Local::LockIsAFolder:
        fs::create_directories(dir / "update.lock");
        return;
      case Local::LockHeld:
      case Local::UpdateInProgress: {
        bool acquired = false;
        ASSERT_FALSE(heldLock_.tryLock(dir / "update.lock", acquired));
        ASSERT_TRUE(acquired);
        if (local == Local::LockHeld) return;
        ASSERT_FALSE(restartLock_.tryLock(dir / "update.restart.lock", acquired));
        ASSERT_TRUE(acquired);
        return;
      }
      case Local::LockFileRead:
        testing_support::writeFile(dir / "update.lock", "");
        reader_.open(dir / "update.lock");
        ASSERT_TRUE(reader_.is_open());
        return;
      case Local::LockIsAReadOnlyFifo:
        ASSERT_EQ(std::system(("mkfifo -m 0444 '" + (dir / "update.lock").string() + "'").c_str()), 0);
        break;
      case Local::LockFileReadOnly:
        testing_support::writeFile(dir / "update.lock", "");
        fs::permissions(dir / "update.lock", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        break;
    }
    for (const fs::path& locked : lockedDirs_) {
      fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    }
    options.interpreter = plainUserShell();
  }

 private:
  std::vector<fs::path> lockedDirs_;
  platform::FileLock heldLock_;
  platform::FileLock restartLock_;
  std::ifstream reader_;
};

class FaultMatrix : public e2e::LauncherEndToEnd, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultMatrix, LeavesAWorkingInstallation) {
  PosixLocalFaults local;
  runFaultRow(GetParam(), {root(), release(), faultsFile(), [this] { return startServer(); }, runOptions()},
              {KESTRUN_FAULTS_SHORT_STALL_LAUNCHER, KESTRUN_FAULTS_PARALLEL_LAUNCHER}, local);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(faultRows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace faults
