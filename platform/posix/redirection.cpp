#include <errno.h>
#include <sys/stat.h>

#include "platform/filesystem.h"

namespace platform {

std::error_code isRedirection(const fs::path& path, bool& redirects) {
  redirects = false;
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    const std::error_code error(errno, std::system_category());
    return isNotFoundError(error) ? std::error_code() : error;
  }
  redirects = S_ISLNK(status.st_mode);
  return {};
}

}  // namespace platform
