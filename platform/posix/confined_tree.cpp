// The confined tree on Linux: openat from a descriptor of the root, O_NOFOLLOW at every step.
#include "platform/confined_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/descriptor.h"

namespace platform {

namespace {

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

using posix::Descriptor;

// The opened file's bytes, permissions and modification time into the new file `to`.
std::error_code copyFrom(int file, const struct stat& info, const std::filesystem::path& to) {
  Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return lastError();
  if (std::error_code error = posix::copyAll(file, out.get())) return error;
  // The launcher compares times to the nanosecond; the access time is left as it is.
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
  if (::fchmod(out.get(), info.st_mode & 0777) != 0 || ::futimens(out.get(), times) != 0) return lastError();
  return out.close();
}

}  // namespace

ConfinedTree::~ConfinedTree() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::error_code ConfinedTree::open(const std::filesystem::path& root) {
  root_ = root;
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return lastError();
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = fd;
  return {};
}

std::error_code ConfinedTree::cloneFile(const std::string& relative, const std::filesystem::path& to,
                                        bool preferHardLink, bool& hardLinked) const {
  hardLinked = false;
  Descriptor dir(::dup(static_cast<int>(handle_)));
  if (dir.get() < 0) return lastError();
  std::size_t start = 0;
  for (std::size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
    const int next = ::openat(dir.get(), relative.substr(start, slash - start).c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return lastError();
    dir.reset(next);
  }
  const std::string name = relative.substr(start);
  // Non-blocking, so that a pipe put in its place cannot stall the caller at the open.
  Descriptor file(::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return lastError();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return lastError();
  if (!S_ISREG(info.st_mode)) return std::error_code(ELOOP, std::system_category());

  if (preferHardLink && ::linkat(dir.get(), name.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
    // The name may have been swapped since the file was opened: the link stays only if it is
    // the file that was checked, otherwise that file is copied from its descriptor instead.
    struct stat linked {};
    if (::lstat(to.c_str(), &linked) == 0 && linked.st_dev == info.st_dev && linked.st_ino == info.st_ino) {
      hardLinked = true;
      return {};
    }
    if (::unlink(to.c_str()) != 0) return lastError();
  }
  return copyFrom(file.get(), info, to);
}

bool ConfinedTree::isReplacedError(const std::error_code& error) {
  return error.category() == std::system_category() && (error.value() == ELOOP || error.value() == ENOTDIR);
}

}  // namespace platform
