#include "staging/ordered_download.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "log/launcher_log.h"
#include "names/windows_names.h"
#include "platform/filesystem.h"
#include "staging/entry_attempt.h"
#include "staging/staged_parts.h"
#include "update/transfer_group.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTransferRetries = 3;
constexpr auto kRetryPause = std::chrono::seconds(1);
// How far past the entry whose turn it is the transfers may run, per transfer at once.
constexpr std::size_t kMaxAheadPerTransfer = 8;
// The longest wait between two looks at the cancel button.
constexpr auto kCancelPoll = std::chrono::milliseconds(100);
// How often the record of the parts being fetched is brought up to date.
constexpr auto kPartRecordInterval = std::chrono::seconds(1);

// One entry from its start until its outcome has been reported.
struct EntryRun {
  enum class State { WaitingForWindow, Transferring, Pausing, Done, Failed };
  State state = State::Transferring;
  ManifestEntry entry;  // made whole from the pending list for as long as it runs
  PreparedEntry prepared;
  std::unique_ptr<EntryAttempt> attempt;  // the transfer in flight, or the one waiting for a window
  std::uint64_t windowShare = 0;          // of the decoder window budget, held by the attempt
  int retries = 0;
  Clock::time_point retryAt;
  // The entry's own log lines (retries, objects used or given up), written when its turn comes.
  std::vector<std::pair<bool, std::string>> heldLines;  // (a warning, the text)
  bool announced = false;                 // progress has been reported for it
  bool objectTried = false;               // a compressed copy or patch had its one chance
};

class OrderedDownload {
 public:
  OrderedDownload(StagedDownload& download, const PrepareEntry& prepare, const std::function<void(int, int)>& progress,
                  std::vector<std::string>& validators)
      : download_(download),
        prepare_(prepare),
        progress_(progress),
        validators_(validators),
        total_(download.pending.size()),
        parallel_(static_cast<std::size_t>(std::max(1, download.parallelTransfers))),
        firstFailure_(total_),
        windowBudget_(download.decoderWindowBudget),
        windowsFree_(windowBudget_) {
    for (std::size_t index = 0; index < validators_.size(); ++index) {
      if (!validators_[index].empty()) keptParts_.push_back(index);
    }
  }

  bool run(Failure& failure) {
    if (!transfers_.ready()) {
      failure = {FailureKind::setUp, "curl 初始化失败"};
      return false;
    }
    for (;;) {
      if (cancelled_ || (download_.transfers.cancelCheck && download_.transfers.cancelCheck())) {
        failure = cancelledFailure();
        return false;
      }
      resumeEntriesWaitingForAWindow();
      startEntries();
      if (reportInOrder(failure)) return head_ == total_;
      resumePausedEntries();
      transferAndWait();
      recordPartsAsTheyGo();
    }
  }

 private:
  std::size_t active() const {
    std::size_t count = 0;
    for (const auto& [index, run] : runs_) {
      count += run.state == EntryRun::State::Transferring || run.state == EntryRun::State::Pausing ||
               run.state == EntryRun::State::WaitingForWindow;
    }
    return count;
  }

  bool waitingForAWindow() const {
    return std::any_of(runs_.begin(), runs_.end(),
                       [](const auto& item) { return item.second.state == EntryRun::State::WaitingForWindow; });
  }

  // Entries start in the list's order; none after a failed one, as a plain loop would stop
  // there, none too far past the head, which may still fail and end the run, and none while
  // an earlier one waits for a decoder window, which it would otherwise never get.
  void startEntries() {
    while (next_ < total_ && next_ < firstFailure_ && next_ - head_ < parallel_ * kMaxAheadPerTransfer &&
           active() < parallel_ && !waitingForAWindow()) {
      const std::size_t index = next_++;
      EntryRun& run = runs_[index];
      run.entry = download_.pending[index];
      run.prepared = prepare_(run.entry);
      switch (run.prepared.outcome) {
        case PreparedEntry::Outcome::Done:
          run.state = EntryRun::State::Done;
          break;
        case PreparedEntry::Outcome::Failed:
          fail(index, run, run.prepared.failure);
          break;
        case PreparedEntry::Outcome::Fetch:
          startAttempt(index, run);
          break;
      }
    }
  }

  // Reports the head of the list as far as it has come. True when the run is over: every
  // entry done, or the head failed (`failure` is then its failure).
  bool reportInOrder(Failure& failure) {
    while (head_ < next_) {
      EntryRun& run = runs_.at(head_);
      if (!run.announced) {
        run.announced = true;
        if (progress_) progress_(static_cast<int>(head_), static_cast<int>(total_));
      }
      for (const auto& [warning, line] : run.heldLines) warning ? logWarn(line) : logInfo(line);
      run.heldLines.clear();
      if (run.state == EntryRun::State::Failed) {
        failure = run.prepared.failure;
        return true;
      }
      if (run.state != EntryRun::State::Done) return false;
      runs_.erase(head_++);
    }
    return head_ == total_;
  }

  void startAttempt(std::size_t index, EntryRun& run) {
    const ManifestEntry& entry = run.entry;
    if (!run.attempt) {
      // Only the first attempt may take an object: after its failure the whole file follows.
      // A part of the whole file kept from an earlier run is worth more than any object.
      const bool mayUseObject = !run.objectTried && validators_[index].empty();
      run.attempt = std::make_unique<EntryAttempt>(download_, entry, run.prepared.staged, mayUseObject);
      run.objectTried = true;
      run.attempt->resumeWith(validators_[index]);
      run.attempt->choose();
    }
    // An object is decoded only within a share of the budget; until one is free the entry
    // waits, which changes nothing but the moment its transfer starts.
    const std::uint64_t share = std::min(run.attempt->windowShare(), windowBudget_);
    if (share > windowsFree_) {
      run.state = EntryRun::State::WaitingForWindow;
      return;
    }
    windowsFree_ -= share;
    run.windowShare = share;
    run.state = EntryRun::State::Transferring;
    Failure notStarted{FailureKind::setUp, ""};
    FileTransfer& transfer = run.attempt->transfer();
    if (!run.attempt->start(run.prepared.url, notStarted.text) || !transfers_.add(transfer, notStarted.text)) {
      const EntryAttempt::ObjectUse used = run.attempt->objectUse();
      endAttempt(run);
      attemptEnded(index, run, false, notStarted, used);
      return;
    }
    inFlight_[&transfer] = index;
  }

  void endAttempt(EntryRun& run) {
    run.attempt.reset();
    windowsFree_ += run.windowShare;
    run.windowShare = 0;
  }

  // The earliest waiting entry first: a later one never takes the window it waits for.
  void resumeEntriesWaitingForAWindow() {
    for (auto& [index, run] : runs_) {
      if (run.state != EntryRun::State::WaitingForWindow) continue;
      startAttempt(index, run);
      if (run.state == EntryRun::State::WaitingForWindow) return;
    }
  }

  void attemptEnded(std::size_t index, EntryRun& run, bool done, const Failure& failure,
                    const EntryAttempt::ObjectUse& used) {
    const std::string& transferError = failure.text;
    const ManifestEntry& entry = run.entry;
    if (used.kind != nullptr && done) {
      logInTurn(index, run, false,
                std::string("以") + used.kind + "下载：" + names::printableName(entry.path) + "（" + std::to_string(used.size) +
                    " 字节，完整文件 " + std::to_string(entry.size) + " 字节）");
    }
    // A bad object never costs a retry: the whole file follows at once.
    if (used.kind != nullptr && !done && !failure.cancelled()) {
      logInTurn(index, run, true, std::string(used.kind) + "下载失败，改为下载完整文件：" + names::printableName(entry.path) + "（" +
                                 transferError + "）");
      startAttempt(index, run);
      return;
    }
    if (done) {
      if (entry.mtime > 0) {
        platform::setLastWriteFileTime(run.prepared.staged, platform::unixSecondsToFileTime(entry.mtime));
      }
      run.state = EntryRun::State::Done;
      return;
    }
    if (failure.cancelled()) {
      cancelled_ = true;
      return;
    }
    if (run.retries == kTransferRetries) {
      fail(index, run, {failure.kind, "下载文件失败：" + names::printableName(entry.path) + "（" + transferError + "）"});
      return;
    }
    ++run.retries;
    const std::string line = "下载文件失败，将进行第 " + std::to_string(run.retries) + "/" +
                             std::to_string(kTransferRetries) + " 次重试：" + names::printableName(entry.path) + "（" + transferError + "）";
    logInTurn(index, run, true, line);
    run.state = EntryRun::State::Pausing;
    run.retryAt = Clock::now() + kRetryPause;
  }

  // The entry whose turn it is says so at once; a later one waits for its turn.
  void logInTurn(std::size_t index, EntryRun& run, bool warning, const std::string& line) {
    if (index == head_ && run.announced) {
      warning ? logWarn(line) : logInfo(line);
    } else {
      run.heldLines.emplace_back(warning, line);
    }
  }

  void fail(std::size_t index, EntryRun& run, const Failure& failure) {
    run.state = EntryRun::State::Failed;
    run.prepared.failure = failure;
    firstFailure_ = std::min(firstFailure_, index);
  }

  void resumePausedEntries() {
    const Clock::time_point now = Clock::now();
    for (auto& [index, run] : runs_) {
      if (run.state == EntryRun::State::Pausing && run.retryAt <= now) startAttempt(index, run);
    }
  }

  // Moves the transfers on and settles those that ended; waits for the network, the next
  // retry or the next look at the cancel button when nothing ended.
  void transferAndWait() {
    const std::vector<FileTransfer*> ended = transfers_.advance();
    for (FileTransfer* transfer : ended) {
      const std::size_t index = inFlight_.at(transfer);
      inFlight_.erase(transfer);
      EntryRun& run = runs_.at(index);
      Failure failure;
      const bool done = run.attempt->finish(failure);
      const EntryAttempt::ObjectUse used = run.attempt->objectUse();
      const std::uint64_t resumedFrom = run.attempt->resumedFrom();
      if (run.attempt->bodyAccepted()) validators_[index] = run.attempt->validator();
      endAttempt(run);
      if (resumedFrom > 0) {
        logInTurn(index, run, false, "断点续传：" + names::printableName(download_.pending[index].path) + "（自第 " +
                                         std::to_string(resumedFrom) + " 字节起）");
      }
      attemptEnded(index, run, done, failure, used);
    }
    if (!ended.empty()) return;

    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kCancelPoll);
    const Clock::time_point now = Clock::now();
    for (const auto& [index, run] : runs_) {
      if (run.state != EntryRun::State::Pausing) continue;
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(run.retryAt - now) +
                                std::chrono::milliseconds(1));
    }
    transfers_.wait(wait);
  }

  // A run that is killed writes no record at its end: the parts of the entries under way, and
  // those kept from an earlier run that have not started yet, are recorded as they go.
  void recordPartsAsTheyGo() {
    const Clock::time_point now = Clock::now();
    if (now < nextPartRecord_) return;
    nextPartRecord_ = now + kPartRecordInterval;
    std::vector<std::pair<std::size_t, std::string>> parts;
    for (const auto& [index, run] : runs_) {
      if (run.state == EntryRun::State::Done) continue;
      const bool wholeFileUnderWay =
          run.attempt && run.attempt->objectUse().kind == nullptr && run.attempt->bodyAccepted();
      const std::string& validator = wholeFileUnderWay ? run.attempt->validator() : validators_[index];
      if (!validator.empty()) parts.emplace_back(index, validator);
    }
    for (const std::size_t index : keptParts_) {
      if (index >= next_) parts.emplace_back(index, validators_[index]);
    }
    if (parts == recordedParts_) return;
    recordPartsInFlight(download_, parts);
    recordedParts_ = std::move(parts);
  }

  StagedDownload& download_;
  const PrepareEntry& prepare_;
  const std::function<void(int, int)>& progress_;
  std::vector<std::string>& validators_;
  const std::size_t total_;
  const std::size_t parallel_;
  std::size_t next_ = 0;  // the next entry to start
  std::size_t head_ = 0;  // the first entry not yet reported as done
  std::size_t firstFailure_;
  const std::uint64_t windowBudget_;
  std::uint64_t windowsFree_;  // of the decoder window budget
  bool cancelled_ = false;
  std::map<std::size_t, EntryRun> runs_;  // started and not yet reported as done
  std::map<const FileTransfer*, std::size_t> inFlight_;
  std::vector<std::size_t> keptParts_;  // entries that go on from a part of an earlier run
  std::vector<std::pair<std::size_t, std::string>> recordedParts_;
  Clock::time_point nextPartRecord_ = {};
  // Last, so that it lets go of the transfers still in it before their attempts go.
  TransferGroup transfers_;
};

}  // namespace

bool runOrderedDownload(StagedDownload& download, const PrepareEntry& prepare,
                        const std::function<void(int, int)>& progress, std::vector<std::string>& validators,
                        Failure& failure) {
  validators.resize(download.pending.size());
  OrderedDownload ordered(download, prepare, progress, validators);
  return ordered.run(failure);
}
