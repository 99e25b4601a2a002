#pragma once

#include <functional>

namespace testing_support {

// What another process writes (a server's request log, a child's record, a launcher's log
// line) arrives when that process gets to it, not when the test looks. A test therefore waits
// for what it expects instead of reading once. The bound only ends a hang: keep it at least ten
// times what the wait takes on a quiet machine.
//
// Polls `condition` every 20 ms until it holds (true) or `timeoutMs` has passed (false).
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace testing_support
