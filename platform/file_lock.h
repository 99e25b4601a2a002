#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform {

// An exclusive lock on one file, shared by nobody: held until the object goes away, and
// dropped by the system when the process ends in any way, so a killed holder never leaves
// it behind (flock elsewhere, LockFileEx on Windows). The file itself is never opened
// through a link, and child processes do not inherit it.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens `path`, creating it when missing (an existing file is opened for reading when it
  // cannot be written), and tries the lock without waiting: `acquired` tells whether it
  // was free. An error means the file could not be opened or locked at all.
  std::error_code tryLock(const std::filesystem::path& path, bool& acquired);
  // Waits until the file that tryLock opened can be locked.
  std::error_code lock();
  bool held() const { return held_; }

 private:
  void release();

  std::intptr_t handle_ = -1;
  bool held_ = false;
};

}  // namespace platform
