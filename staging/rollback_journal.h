#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_writer.h"
#include "update/auto_rollback.h"

// What an update of a release that may be taken back keeps, in update_rollback/ inside the
// installation:
//   kept/<path>   each file (or link, or folder) the update replaced, moved aside, never copied
//   journal.txt   one line per target, written before the target changes:
//                   kept <TAB> path     what stood at path is now kept/<path>
//                   added <TAB> path    nothing stood at path
//                   folder <TAB> path   the update created this folder
//   state.txt     the stage and the probation (ProbationRecord), replaced through a rename
// Every step can be interrupted: the journal says, for each target, how to undo it, and undoing
// is the same whether the step got to the target or not. A run that finds the stage Applying
// or RollingBack finishes the rollback before it starts the program.

// The stage and the counts of the release on probation.
struct ProbationRecord {
  enum class Stage { Applying, Probation, RollingBack };
  Stage stage = Stage::Applying;
  AutoRollback settings;       // settings.release: the release on probation
  std::int64_t since = 0;      // when the update was applied, seconds since 1970 UTC
  int starts = 0;              // starts watched so far
  int failures = 0;            // of which failed
  std::uint32_t lastExitCode = 0;  // the exit code of the last failed start
};

// The record of a kept update, if the installation holds one; false when there is none (or
// what is there is not one, which counts as none).
bool readProbation(const std::filesystem::path& installDir, ProbationRecord& record);
// False with errorText when the record cannot be written.
bool writeProbation(const std::filesystem::path& installDir, const ProbationRecord& record, std::string& errorText);

// The journal of one update while it is applied.
class RollbackJournal {
 public:
  // Drops what an earlier probation kept, then records the stage Applying for `settings`. False
  // with errorText when nothing can be kept: the update then goes on as without rollback.
  bool begin(const std::filesystem::path& installDir, const AutoRollback& settings, std::string& errorText);
  // Before the target at `relative` is written: moves what stands there aside, or notes it as
  // added together with the folders its write will create. False (logged) when that cannot be
  // done: the target must then stay as it is.
  bool keep(const std::filesystem::path& relative);
  // After a write that failed: puts back what keep() moved aside for it.
  void putBack(const std::filesystem::path& relative);
  // Closes the journal; what it holds stays for rollBackRelease.
  void close() { journal_.close(); }
  // Closes the journal and starts the probation. False (logged) when it cannot be recorded.
  bool startProbation();

  const AutoRollback& settings() const { return record_.settings; }
  const std::string& release() const { return record_.settings.release; }
  std::uint64_t keptItems() const { return keptItems_; }
  std::uint64_t keptBytes() const { return keptBytes_; }
  std::uint64_t addedItems() const { return addedItems_; }

 private:
  bool append(const char* kind, const std::filesystem::path& relative);

  std::filesystem::path installDir_;
  ProbationRecord record_;
  platform::FileWriter journal_;
  std::uint64_t keptItems_ = 0;
  std::uint64_t keptBytes_ = 0;
  std::uint64_t addedItems_ = 0;
};

// Puts back every kept item and removes what the update added, newest first, as the journal
// says; then drops the folder and the record of installed digests, which described the files
// taken back. With `refuse` (a release whose starts failed) the stage RollingBack is recorded
// and the release remembered as refused here before anything moves; without it (an apply that did not
// finish) the release may be installed again. False (logged) when an item could not be put
// back: the folder then stays, and the next run tries again.
bool rollBackRelease(const std::filesystem::path& installDir, ProbationRecord& record, bool refuse);

// Ends the probation: the kept files are removed. Also clears a folder left without a state.
// False (logged) when the folder could not be removed.
bool endProbation(const std::filesystem::path& installDir);
bool hasLeftoverFolder(const std::filesystem::path& installDir);

// Whether `release` was taken back on this installation.
bool isRefusedRelease(const std::filesystem::path& installDir, const std::string& release);
