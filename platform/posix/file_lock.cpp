// The installation lock on Linux: flock on a descriptor of our own, never inherited.
#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

// Opened for writing, so that only someone who may change the installation can hold its lock,
// and without blocking, so that a FIFO planted at the path cannot stop the launcher here; a
// lock file must then be a regular file. -1 with errno on failure.
int openLockFile(const std::filesystem::path& path) {
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (descriptor < 0) return -1;
  struct stat status {};
  const bool known = ::fstat(descriptor, &status) == 0;
  if (known && S_ISREG(status.st_mode)) return descriptor;
  const int error = known ? EINVAL : errno;
  ::close(descriptor);
  errno = error;
  return -1;
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
