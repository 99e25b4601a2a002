#include "ui/progress_state.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <thread>

#include "ui/progress_colours.h"
#include "ui/ui_text.h"

namespace {

using ui::PollAction;
using ui::ProgressDisplay;
using ui::ProgressPoll;
using ui::SharedState;

void expectDisplay(const ProgressDisplay& display, const std::string& status, std::uint32_t colour,
                   const std::string& percent, float value, float maximum) {
  EXPECT_EQ(display.status, status);
  EXPECT_EQ(display.statusColour, colour);
  EXPECT_EQ(display.percent, percent);
  EXPECT_EQ(display.barValue, value);
  EXPECT_EQ(display.barMaximum, maximum);
}

// ---- the poll, driven by hand -----------------------------------------------------------

TEST(ProgressPoll, FirstRunShowsPreparingBecauseTheStateStartsDirty) {
  SharedState state;
  ProgressPoll poll(state, false, true);
  const PollAction action = poll.run();
  EXPECT_TRUE(action.redraw);
  EXPECT_TRUE(action.rearm);
  EXPECT_EQ(action.hideAfterSeconds, 0.0);
  expectDisplay(poll.display(), "Preparing download\u2026", ui::kStatusColour, "", 0, 0);

  const PollAction quiet = poll.run();  // nothing new: keep polling, draw nothing
  EXPECT_FALSE(quiet.redraw);
  EXPECT_TRUE(quiet.rearm);
}

TEST(ProgressPoll, CountsNameTheFileBeingFetchedCountedFromOne) {
  struct Case {
    bool chinese;
    bool updating;
    int current, total;
    const char* status;
    const char* percent;
  };
  const Case cases[] = {
      {false, true, 0, 3, "Downloading update (1/3)\u2026", "0%"},
      {false, true, 2, 3, "Downloading update (3/3)\u2026", "66%"},
      {false, false, 1, 3, "Downloading application (2/3)\u2026", "33%"},
      {true, true, 0, 10, "正在下载更新（1/10）…", "0%"},
      {true, false, 0, 1, "正在下载程序（1/1）…", "0%"},
      {false, true, 5, 3, "Downloading update (6/3)\u2026", "166%"},  // the bar clamps, the text does not
      // Counts near the 32-bit limit must not overflow the percentage.
      {false, true, INT_MAX - 1, INT_MAX, "Downloading update (2147483647/2147483647)\u2026", "99%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    SharedState state;
    ProgressPoll poll(state, c.chinese, c.updating);
    state.setProgress(c.current, c.total);
    EXPECT_TRUE(poll.run().redraw);
    expectDisplay(poll.display(), c.status, ui::kStatusColour, c.percent, static_cast<float>(c.current),
                  static_cast<float>(c.total));
  }
}

TEST(ProgressPoll, NoTotalShowsPreparingAndEmptiesTheBarButKeepsItsMaximum) {
  SharedState state;
  ProgressPoll poll(state, false, true);
  state.setProgress(1, 4);
  poll.run();
  for (const int total : {0, -1}) {
    state.setProgress(2, total);
    EXPECT_TRUE(poll.run().redraw);
    expectDisplay(poll.display(), "Preparing download\u2026", ui::kStatusColour, "", 0, 4);
  }
}

TEST(ProgressPoll, OnlyTheLastCountsBetweenTwoRunsAreShown) {
  SharedState state;
  ProgressPoll poll(state, false, false);
  state.setProgress(0, 5);
  state.setProgress(1, 5);
  state.setProgress(3, 5);
  poll.run();
  expectDisplay(poll.display(), "Downloading application (4/5)\u2026", ui::kStatusColour, "60%", 3, 5);
}

struct ResultCase {
  bool chinese;
  bool updating;
  bool success;
  const char* status;
};

// Success: the completion text, a full bar, hidden after a second. Failure: the failure text,
// the bar as it was, hidden after 1.2 seconds.
TEST(ProgressPoll, TheEndShowsItsTextAndBarAndHidesAfterItsTime) {
  const ResultCase cases[] = {
      {false, true, true, "Download complete. Applying the update and restarting\u2026"},
      {false, false, true, "Download complete. Installing and starting\u2026"},
      {true, true, true, "下载完成，正在应用更新并重启…"},
      {true, false, true, "下载完成，正在安装并启动…"},
      {false, true, false, "Download failed. Starting the current version\u2026"},
      {false, false, false, "Download failed."},
      {true, true, false, "下载失败，正在启动当前版本…"},
      {true, false, false, "下载失败。"},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.status);
    SharedState state;
    ProgressPoll poll(state, c.chinese, c.updating);
    state.setProgress(1, 3);
    poll.run();
    state.finish(c.success);
    const PollAction action = poll.run();
    EXPECT_TRUE(action.redraw);
    EXPECT_FALSE(action.rearm);
    EXPECT_EQ(action.hideAfterSeconds, c.success ? 1.0 : 1.2);
    expectDisplay(poll.display(), c.status, c.success ? ui::kStatusSuccessColour : ui::kStatusColour,
                  c.success ? "100%" : "33%", 1, c.success ? 1 : 3);
  }
}

TEST(ProgressPoll, ATaskThatReturnsAtOnceGoesFromPreparingStraightToDone) {
  SharedState state;
  ProgressPoll poll(state, false, true);
  state.finish(true);
  const PollAction action = poll.run();
  EXPECT_EQ(action.hideAfterSeconds, 1.0);
  expectDisplay(poll.display(), "Download complete. Applying the update and restarting\u2026",
                ui::kStatusSuccessColour, "100%", 1, 1);
}

TEST(ProgressPoll, TheEndIsHandledOnce) {
  SharedState state;
  ProgressPoll poll(state, false, true);
  state.finish(false);
  EXPECT_EQ(poll.run().hideAfterSeconds, 1.2);
  const PollAction again = poll.run();
  EXPECT_FALSE(again.redraw);
  EXPECT_FALSE(again.rearm);
  EXPECT_EQ(again.hideAfterSeconds, 0.0);
  EXPECT_EQ(poll.display().status, "Download failed. Starting the current version\u2026");
}

// ---- the shared state and the worker --------------------------------------------------

TEST(SharedState, ACancelAfterTheEndKeepsTheResult) {
  SharedState state;
  state.finish(true);
  state.requestCancel();
  EXPECT_TRUE(state.cancelRequested());
  EXPECT_TRUE(state.done());
  EXPECT_TRUE(state.success());
}

TEST(SharedState, CountsAreTakenOncePerChange) {
  SharedState state;
  int current = -1;
  int total = -1;
  ASSERT_TRUE(state.takeCounts(current, total));
  EXPECT_EQ(current, 0);
  EXPECT_EQ(total, 0);
  EXPECT_FALSE(state.takeCounts(current, total));
  state.setProgress(4, 9);
  ASSERT_TRUE(state.takeCounts(current, total));
  EXPECT_EQ(current, 4);
  EXPECT_EQ(total, 9);
}

TEST(WorkerMain, TheTasksResultOrFalseForAnEmptyOrThrowingTask) {
  struct Case {
    const char* name;
    ProgressTask task;
    bool expected;
  };
  const Case cases[] = {
      {"true", [](ui::ProgressController&) { return true; }, true},
      {"false", [](ui::ProgressController&) { return false; }, false},
      {"empty", ProgressTask(), false},
      {"throws an exception", [](ui::ProgressController&) -> bool { throw std::runtime_error("boom"); }, false},
      {"throws a non-exception", [](ui::ProgressController&) -> bool { throw 42; }, false},
  };
  for (const Case& c : cases) {
    SharedState state;
    ui::workerMain(c.task, state);
    EXPECT_TRUE(state.done()) << c.name;
    EXPECT_EQ(state.success(), c.expected) << c.name;
  }
}

TEST(WorkerMain, OnItsOwnThreadTheTaskReportsWhileThePollReads) {
  SharedState state;
  constexpr int kFiles = 2000;
  const ProgressTask task = [](ui::ProgressController& controller) {
    for (int i = 0; i < kFiles; ++i) controller.setProgress(i, kFiles);
    return true;
  };
  ProgressPoll poll(state, false, true);
  std::thread worker(ui::workerMain, std::cref(task), std::ref(state));
  PollAction action;
  do {
    action = poll.run();
    std::this_thread::yield();
  } while (action.rearm);
  worker.join();
  EXPECT_EQ(action.hideAfterSeconds, 1.0);
  EXPECT_EQ(poll.display().percent, "100%");
}

TEST(WorkerMain, ACancelFromTheMainThreadReachesTheTask) {
  SharedState state;
  const ProgressTask task = [](ui::ProgressController& controller) {
    controller.setProgress(0, 1);
    while (!controller.cancelRequested()) std::this_thread::yield();
    return false;
  };
  std::thread worker(ui::workerMain, std::cref(task), std::ref(state));
  state.requestCancel();
  worker.join();
  EXPECT_TRUE(state.done());
  EXPECT_FALSE(state.success());
}

}  // namespace
