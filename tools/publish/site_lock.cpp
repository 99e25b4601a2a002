#include "tools/publish/site_lock.h"

#include "platform/text.h"

namespace publish {

bool SiteLock::acquire(const SiteLayout& layout, const std::function<void()>& waiting, std::string& error) {
  const fs::path file = layout.lockFile();
  bool acquired = false;
  if (const std::error_code failure = lock_.tryLock(file, acquired)) {
    error = "cannot open " + file.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  if (acquired) return true;
  if (waiting) waiting();
  if (const std::error_code failure = lock_.lock()) {
    error = "cannot lock " + file.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  return true;
}

}  // namespace publish
