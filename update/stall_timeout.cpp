#include "update/stall_timeout.h"

#include <atomic>

namespace {

// Read by transfers on the worker thread, so it is atomic.
std::atomic<long> stallTimeout{kDefaultStallTimeoutSeconds};

}  // namespace

long stallTimeoutSeconds() { return stallTimeout.load(); }

void setStallTimeoutSeconds(long seconds) { stallTimeout.store(seconds); }
