#include "update/auto_rollback.h"

#include "update/rollout_offer.h"

namespace {

// An optional whole number from 1 to `most`; absent leaves `number` as it is.
bool readCount(const nlohmann::json& value, const char* key, int most, int& number) {
  const auto found = value.find(key);
  if (found == value.end()) return true;
  if (!found->is_number_integer()) return false;
  const auto count = found->get<long long>();
  if (count < 1 || count > most) return false;
  number = static_cast<int>(count);
  return true;
}

}  // namespace

bool readAutoRollback(const nlohmann::json& value, AutoRollback& settings) {
  if (!value.is_object()) return false;
  const auto release = value.find("release");
  if (release == value.end() || !release->is_string() || !isReleaseIdText(release->get<std::string>())) return false;
  AutoRollback read;
  read.release = release->get<std::string>();
  if (!readCount(value, "window_seconds", kMaxWatchSeconds, read.windowSeconds) ||
      !readCount(value, "probation_starts", kMaxProbationStarts, read.probationStarts) ||
      !readCount(value, "failed_starts", kMaxProbationStarts, read.failedStarts) ||
      read.failedStarts > read.probationStarts) {
    return false;
  }
  read.present = true;
  settings = std::move(read);
  return true;
}
