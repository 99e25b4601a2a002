#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "ui/progress_controller.h"

// The hand-off between the download task on the worker thread and the progress window on the
// main thread, and the window's 50 ms poll as decisions without any widget.
namespace ui {

// The state both threads share. The mutex guards only the counts and `dirty` and is held
// for a few stores or loads; the flags are atomic. `done` and `success` are set once.
class SharedState final : public ProgressController {
 public:
  // Worker side (any thread): store the counts for the next poll. Never touches widgets.
  void setProgress(int current, int total) override;
  bool cancelRequested() const override;

  // Main thread, on a close request. Changes nothing once the task has returned.
  void requestCancel();

  // Worker thread, once: the task's result. `success` is stored before `done`, so whoever
  // sees `done` can trust `success`.
  void finish(bool success);
  bool done() const;
  bool success() const;

  // Main thread: copies the counts and clears `dirty`; false, with nothing copied, when they
  // have not been set since the last call. A new state counts as set (0 of 0).
  bool takeCounts(int& current, int& total);

 private:
  std::mutex mutex_;
  int current_ = 0;
  int total_ = 0;
  bool dirty_ = true;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> success_{false};
};

// The worker thread's whole job: calls the task once with `state` (an empty task or one that
// throws counts as false), then state.finish with the result.
void workerMain(const ProgressTask& task, SharedState& state) noexcept;

// What the window shows: the status line, its colour, the percentage and the bar.
struct ProgressDisplay {
  std::string status;
  std::uint32_t statusColour = 0;
  std::string percent;
  float barValue = 0.0f;
  float barMaximum = 0.0f;
};

// The display of a new window: "preparing", empty percentage, empty bar.
ProgressDisplay initialDisplay(bool chinese);

// What the poll timer asks of the window after one run.
struct PollAction {
  bool redraw = false;              // the display changed: copy it into the widgets
  bool rearm = false;               // run again in 0.05 s
  double hideAfterSeconds = 0.0;    // > 0: hide the window after this long (once)
};

// The poll's decisions: each run reads the shared state and updates the display.
class ProgressPoll {
 public:
  ProgressPoll(SharedState& state, bool chinese, bool updating);

  PollAction run();
  const ProgressDisplay& display() const { return display_; }

 private:
  void showCounts(int current, int total);
  void showResult(bool success);

  SharedState& state_;
  bool chinese_;
  bool updating_;
  bool closing_ = false;
  ProgressDisplay display_;
};

}  // namespace ui
