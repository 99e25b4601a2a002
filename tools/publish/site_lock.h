#pragma once

#include <functional>
#include <string>

#include "platform/file_lock.h"
#include "tools/publish/site_layout.h"

namespace publish {

// The lock that keeps two publishers from working on one site at once: an exclusive flock on
// SITE/.publish.lock, held from before a publish or rollback reads the site until after it
// has pruned. The system drops it when the process ends, however it ends, so a killed
// publisher never leaves the site locked. The file itself stays; it is never served.
class SiteLock {
 public:
  SiteLock() = default;
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;

  // Takes the lock of an existing site directory, creating the lock file when needed. When
  // another publisher holds it, calls `waiting` (when set) once and then waits as long as
  // that one runs.
  bool acquire(const SiteLayout& layout, const std::function<void()>& waiting, std::string& error);
  bool held() const { return lock_.held(); }

 private:
  platform::FileLock lock_;
};

}  // namespace publish
