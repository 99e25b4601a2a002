#include "ui/progress_state.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "ui/progress_colours.h"
#include "ui/ui_text.h"

namespace ui {

void SharedState::setProgress(int current, int total) {
  const std::lock_guard<std::mutex> lock(mutex_);
  current_ = current;
  total_ = total;
  dirty_ = true;
}

bool SharedState::cancelRequested() const { return cancel_.load(); }

void SharedState::requestCancel() { cancel_.store(true); }

void SharedState::finish(bool success) {
  success_.store(success);
  done_.store(true);
}

bool SharedState::done() const { return done_.load(); }

bool SharedState::success() const { return success_.load(); }

bool SharedState::takeCounts(int& current, int& total) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!dirty_) return false;
  current = current_;
  total = total_;
  dirty_ = false;
  return true;
}

void workerMain(const ProgressTask& task, SharedState& state) noexcept {
  bool result = false;
  if (task) {
    // The thread's boundary: whatever the task throws becomes a failed download.
    try {
      result = task(state);
    } catch (...) {
      result = false;
    }
  }
  state.finish(result);
}

ProgressDisplay initialDisplay(bool chinese) {
  ProgressDisplay display;
  display.status = uiText(chinese, UiText::PreparingDownload);
  display.statusColour = kStatusColour;
  return display;
}

ProgressPoll::ProgressPoll(SharedState& state, bool chinese, bool updating)
    : state_(state), chinese_(chinese), updating_(updating), display_(initialDisplay(chinese)) {}

PollAction ProgressPoll::run() {
  PollAction action;
  int current = 0;
  int total = 0;
  if (state_.takeCounts(current, total)) {
    showCounts(current, total);
    action.redraw = true;
  }
  if (!state_.done()) {
    action.rearm = true;
    return action;
  }
  if (closing_) return action;
  closing_ = true;
  const bool success = state_.success();
  showResult(success);
  action.redraw = true;
  action.hideAfterSeconds = success ? 1.0 : 1.2;
  return action;
}

void ProgressPoll::showCounts(int current, int total) {
  if (total < 1) {
    display_.status = uiText(chinese_, UiText::PreparingDownload);
    display_.barValue = 0.0f;
    display_.percent.clear();
    return;
  }
  // The text names the file being fetched, counted from 1.
  const UiText text = updating_ ? UiText::DownloadingUpdate : UiText::DownloadingApplication;
  const int fetching = current < INT_MAX ? current + 1 : current;
  display_.status = formatProgressText(chinese_, text, fetching, total);
  display_.barMaximum = static_cast<float>(total);
  display_.barValue = static_cast<float>(current);
  // Wide arithmetic: counts near the 32-bit limit must not overflow into a wrong percentage.
  const long long percent = static_cast<long long>(current) * 100 / total;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld%%", percent);
  display_.percent = buffer;
}

void ProgressPoll::showResult(bool success) {
  if (success) {
    display_.status = uiText(chinese_, updating_ ? UiText::UpdateDownloaded : UiText::ApplicationDownloaded);
    display_.statusColour = kStatusSuccessColour;
    display_.barMaximum = 1.0f;
    display_.barValue = 1.0f;
    display_.percent = "100%";
  } else {
    // The bar and the percentage keep their last values.
    display_.status = uiText(chinese_, updating_ ? UiText::UpdateDownloadFailed : UiText::ApplicationDownloadFailed);
    display_.statusColour = kStatusColour;
  }
}

}  // namespace ui
