#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "wire/rollback_settings.h"

// A release that asks launchers to take it back on their own when its program fails at start.
// It travels inside the manifest as an element without a "path", which launchers that know
// nothing of it pass over:
//   {"auto_rollback":{"release":"20261209-101500-001","window_seconds":5,"probation_starts":3,
//                     "failed_starts":2}}
// Only "release" is required; the others fall back to the defaults of rollback_settings.h.
struct AutoRollback {
  bool present = false;
  std::string release;  // the release refused on this machine once it has been taken back
  int windowSeconds = kDefaultWatchSeconds;      // a start that ends badly within this time has failed
  int probationStarts = kDefaultProbationStarts;  // starts watched after an update
  int failedStarts = kDefaultFailedStarts;        // failed starts that take the release back
};

// The warning for an element that is not one; updates then go on without keeping anything.
inline constexpr const char* kAutoRollbackInvalidText = "更新清单中的自动回滚设置无效，按未开启处理";

// Reads the value of an "auto_rollback" element into `settings`; false when it is not one (a
// release id of [A-Za-z0-9_.-], whole numbers within the bounds, failed_starts no more than
// probation_starts).
bool readAutoRollback(const nlohmann::json& value, AutoRollback& settings);
