#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform {

// An exclusive lock on one file, shared by nobody: held until the object goes away, and
// dropped by the system when the process ends in any way, so a killed holder never leaves
// it behind (flock elsewhere, LockFileEx on Windows). The file itself is never opened
// through a link, must be a regular file, is opened only with the right to change it (so a
// user who can merely read the installation cannot hold its lock), and child processes do
// not inherit it.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens `path`, creating it when missing, and tries the lock without waiting: `acquired`
  // tells whether it was free. An error means the file could not be opened or locked at all.
  // Someone else holding the file open, for reading or writing, does not keep the lock from
  // being taken; only another holder of the lock does.
  std::error_code tryLock(const std::filesystem::path& path, bool& acquired);
  // Tries the lock again, without waiting, on the file that tryLock opened.
  std::error_code tryAgain(bool& acquired);
  // Waits, for as long as it takes, until the file that tryLock opened can be locked.
  std::error_code lock();
  bool held() const { return held_; }

 private:
  void release();

  std::intptr_t handle_ = -1;
  bool held_ = false;
};

}  // namespace platform
