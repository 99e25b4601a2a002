// The installation lock on Linux: flock on a descriptor of our own, never inherited.
#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

int openLockFile(const std::filesystem::path& path) {
  constexpr int kFlags = O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int descriptor = ::open(path.c_str(), O_RDWR | kFlags, 0644);
  // A read-only installation may still hold the file from an earlier run; a shared
  // descriptor can be locked just the same.
  if (descriptor < 0 && (errno == EACCES || errno == EROFS)) descriptor = ::open(path.c_str(), O_RDONLY | kFlags);
  return descriptor;
}

int flockRetryingSignals(int descriptor, int operation) {
  int result;
  do {
    result = ::flock(descriptor, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

}  // namespace

FileLock::~FileLock() { release(); }

void FileLock::release() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = -1;
  held_ = false;
}

std::error_code FileLock::tryLock(const std::filesystem::path& path, bool& acquired) {
  release();
  acquired = false;
  const int descriptor = openLockFile(path);
  if (descriptor < 0) return lastError();
  handle_ = descriptor;
  if (flockRetryingSignals(descriptor, LOCK_EX | LOCK_NB) == 0) {
    acquired = held_ = true;
    return {};
  }
  if (errno == EWOULDBLOCK) return {};
  const std::error_code error = lastError();
  release();
  return error;
}

std::error_code FileLock::tryAgain(bool& acquired) {
  acquired = false;
  if (handle_ < 0) return std::error_code(EBADF, std::system_category());
  if (flockRetryingSignals(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0) {
    acquired = held_ = true;
    return {};
  }
  return errno == EWOULDBLOCK ? std::error_code() : lastError();
}

std::error_code FileLock::lock() {
  if (handle_ < 0) return std::error_code(EBADF, std::system_category());
  if (flockRetryingSignals(static_cast<int>(handle_), LOCK_EX) != 0) return lastError();
  held_ = true;
  return {};
}

}  // namespace platform
