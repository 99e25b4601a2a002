// What the worker pays to report progress and look for a cancellation through the state it
// shares with the progress window: a few stores under a leaf lock and one atomic load, so
// the download never waits for the window, however busy the window's thread is.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "bench/bench_result.h"
#include "ui/progress_state.h"

namespace bench {
namespace {

constexpr int kCalls = 2000000;
constexpr double kMeanLimitNanoseconds = 1000.0;

// Keeps the flag's loads in the loop: the compiler may not decide they are unused.
volatile bool observedCancel = false;

enum class Poller { None, EveryFiftyMilliseconds, Busy };

struct CallCost {
  double meanNanoseconds = 0.0;
  double slowestMicroseconds = 0.0;
};

// The worker's loop, timed as a whole for the mean and per call for the slowest one.
CallCost measure(Poller poller) {
  ui::SharedState state;
  std::atomic<bool> stop{false};
  std::thread window;
  if (poller != Poller::None) {
    window = std::thread([&] {
      int current = 0;
      int total = 0;
      while (!stop.load()) {
        state.takeCounts(current, total);
        if (poller == Poller::EveryFiftyMilliseconds) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  }

  using Clock = std::chrono::steady_clock;
  Clock::duration slowest{0};
  bool cancelled = false;
  const auto start = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    const auto before = (i % 64 == 0) ? Clock::now() : Clock::time_point{};
    state.setProgress(i, kCalls);
    cancelled = state.cancelRequested() || cancelled;
    if (i % 64 == 0) slowest = std::max(slowest, Clock::now() - before);
  }
  const auto elapsed = Clock::now() - start;

  stop.store(true);
  if (window.joinable()) window.join();
  CallCost cost;
  cost.meanNanoseconds = std::chrono::duration<double, std::nano>(elapsed).count() / kCalls;
  cost.slowestMicroseconds = std::chrono::duration<double, std::micro>(slowest).count();
  observedCancel = cancelled;
  return cost;
}

}  // namespace

Figures runProgressBench() {
  Figures figures;
  const struct {
    Poller poller;
    const char* label;
    bool hasTarget;
  } cases[] = {
      {Poller::None, "progress: report+cancel check, no window", true},
      {Poller::EveryFiftyMilliseconds, "progress: report+cancel check, 50 ms poll", true},
      {Poller::Busy, "progress: report+cancel check, busy poll", false},
  };
  for (const auto& c : cases) {
    const CallCost cost = measure(c.poller);
    figures.push_back({std::string(c.label) + ", mean", cost.meanNanoseconds, "ns",
                       c.hasTarget ? "< 1000 ns" : "", !c.hasTarget || cost.meanNanoseconds < kMeanLimitNanoseconds});
    figures.push_back({std::string(c.label) + ", slowest", cost.slowestMicroseconds, "us", "", true});
  }
  return figures;
}

}  // namespace bench
