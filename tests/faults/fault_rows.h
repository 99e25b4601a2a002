#pragma once

// The fault matrix's one table and its one runner, shared by the run of the Linux launcher
// (fault_matrix_test.cpp) and the run of Kestrun.exe under Wine (tests/wine_e2e). A row names
// a fault of the release server (its faults file, see docs/release-server.md) or of the local
// installation, and the end state it must leave: each installed file holds the old or the new
// release's bytes, never a part; nothing outside the installation changed; the main program
// was started with the right arguments, or a first installation got its message; the log
// holds the line that explains what happened; the exit code is 0.

#include <ostream>
#include <string>
#include <vector>

#include "tests/faults/fault_support.h"
#include "tests/launcher/e2e_fixture.h"

namespace faults {

namespace fs = std::filesystem;

// The Lock* faults are of update.lock: a folder in its place, its lock held by another
// process for the whole run, the file held open for reading by another program, a FIFO or a
// file that the launcher's user may only read.
// UpdateInProgress holds update.lock and update.restart.lock, as a run that has stopped the
// program for an update does.
enum class Local {
  None, DiskFull, ReadOnlyInstallation, StagingIsAFile, TargetCannotBeReplaced, LockIsAFolder, LockHeld, LockFileRead,
  UpdateInProgress, LockIsAReadOnlyFifo, LockFileReadOnly
};

// Compressed copies and patches of data/big.bin that the row's manifest offers ({BODY}), each
// spoiled in its own way except Patch and EveryFile: EveryFile also offers a compressed
// copy of each other changing file; WideWindow offers only a copy whose frame asks for a
// decoder window of 16 MiB, SizelessCopy one of 1 MiB (both without their size);
// HugeCopy lists the file at 2^60 bytes, with a compressed copy.
enum class Objects {
  None, Patch, PatchForAnotherFile, CorruptPatch, CorruptCopy, MissingPatch, PatchToWrongBytes, EveryFile, WideWindow,
  SizelessCopy, HugeCopy,
  DigestsOnly  // every file's sha256, no objects
};

// The record of installed files' digests before the run: Stale names the old data/big.bin's
// digest for a file since changed in place (same size and time); Damaged is not a record;
// Linked is a link to a record that would pick no patch.
enum class DigestRecord { None, Stale, Damaged, Linked };

// What the installation holds afterwards; OldNotStarted: the old release, and the program is
// left for another run to start.
enum class End { New, Old, NewButManual, OldNotStarted };

struct FaultRow {
  const char* name;
  // The faults file; {OTHER} stands for the address of a second server, {MANIFEST} for a long
  // manifest, {BODY} for a file holding manifestBody (in otherFaults too). A fault that makes the server close the connection first is served by the
  // second server on a port of its own: the closing side's port stays in TIME_WAIT for a
  // minute, and the launcher's one built-in port cannot wait that long.
  std::string faults;
  Local local;
  bool firstInstallation;
  End end;
  std::vector<e2e::Expected> explaining;  // log lines that must appear, in this order
  std::string message;                    // on standard error (the message box without a display); empty: none
  bool shortStall = false;                // run the launcher whose stall bound is 2 s
  int manifestEntries = 0;                // the size of {MANIFEST}
  double peakLimitMiB = 0;                // 0: not measured
  std::string otherFaults = {};           // the second server's faults file
  // Why the row does not run with Kestrun.exe under Wine; empty: it does.
  std::string notUnderWine = {};
  std::string manifestBody = {};  // what {BODY} serves
  std::size_t starts = 0;         // how often the main program starts in all; 0: not counted
  Objects objects = Objects::None;
  bool eightAtOnce = false;       // run the launcher that fetches eight files at once
  int runs = 1;                   // launcher runs one after the other; `starts` counts those of one run
  DigestRecord digestRecord = DigestRecord::None;
  // The first run is killed once the record names data/big.bin's part; the next runs go
  // without the second server's faults.
  bool killedFirst = false;
};

// The test builds of the launcher that stand in for the product's in some rows, both with a
// stall bound of 2 s: one fetching a file at a time, one fetching eight at once.
struct TestLaunchers {
  fs::path shortStall;
  fs::path eightAtOnce;
};

// gtest names the row in its output instead of dumping its bytes.
void PrintTo(const FaultRow& row, std::ostream* out);

std::vector<FaultRow> faultRows();

// What a platform does around a run: sets a row's local fault up on the installation, with
// the options the launcher then runs with, and undoes it when it is destroyed.
class LocalFaults {
 public:
  virtual ~LocalFaults() = default;
  virtual void prepare(Local local, const e2e::Installation& installation, e2e::RunOptions& options) = 0;
};

// Runs `row` once and checks its end state with gtest assertions, with the test launcher
// that the row asks for.
void runFaultRow(const FaultRow& row, const RunContext& context, const TestLaunchers& launchers, LocalFaults& local);

}  // namespace faults
