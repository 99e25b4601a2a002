#include "tools/publish/site_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace publish {

SiteLock::~SiteLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool SiteLock::acquire(const SiteLayout& layout, const std::function<void()>& waiting,
                       std::string& error) {
  const fs::path file = layout.lockFile();
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  int result = ::flock(fd, LOCK_EX | LOCK_NB);
  if (result != 0 && errno == EWOULDBLOCK) {
    if (waiting) waiting();
    do {
      result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
  }
  if (result != 0) {
    error = "cannot lock " + file.string() + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}

}  // namespace publish
