#include "tools/publish/release_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "tools/publish/site_layout.h"

namespace publish {

namespace {

// A file descriptor, closed once.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // Closes it now; false when the close reports an error (a late write error shows here).
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

std::string refusal(const std::string& path) {
  return "refused: " + path + ": replaced by a link or special file after the check";
}

// The tree files are cloned from. It is walked one directory at a time from a descriptor of
// its root, never following a link, so that a link swapped into the tree after it was listed
// and checked cannot lead out of it (to the publisher's signing key, say).
class SourceTree {
 public:
  bool open(const fs::path& root, std::string& error) {
    root_ = root;
    // The root itself is followed: it is what the publisher named.
    rootFd_ = Fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd_.isOpen()) return true;
    error = "cannot open " + root.string() + ": " + std::strerror(errno);
    return false;
  }

  // Opens the regular file at `path` ("/"-separated, relative) for reading, with the directory
  // that holds it and its name there. False, with the entry refused, when anything on the way
  // is not what it was when the tree was listed.
  bool openFile(const std::string& path, Fd& dir, std::string& name, Fd& file, struct stat& info,
                std::string& error) const {
    int at = rootFd_.get();
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
      Fd next(::openat(at, path.substr(start, slash - start).c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next.isOpen()) return openFailed(path, error);
      dir = std::move(next);
      at = dir.get();
    }
    if (!dir.isOpen()) dir = Fd(::dup(rootFd_.get()));
    name = path.substr(start);
    // Non-blocking, so that a pipe put in its place cannot stall the publish at the open.
    file = Fd(::openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!dir.isOpen() || !file.isOpen()) return openFailed(path, error);
    if (::fstat(file.get(), &info) != 0) {
      error = "cannot read " + (root_ / path).string() + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISREG(info.st_mode)) return true;
    error = refusal(path);
    return false;
  }

 private:
  bool openFailed(const std::string& path, std::string& error) const {
    // A link where a directory or the file was: O_NOFOLLOW refuses it with ELOOP.
    error = errno == ELOOP || errno == ENOTDIR
                ? refusal(path)
                : "cannot open " + (root_ / path).string() + ": " + std::strerror(errno);
    return false;
  }

  fs::path root_;
  Fd rootFd_;
};

// Copies the opened file's bytes, permissions and modification time into the new file `to`.
bool copyFrom(const Fd& file, const struct stat& info, const fs::path& to, std::string& error) {
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  int failure = out.isOpen() ? 0 : errno;
  char buffer[64 * 1024];
  while (failure == 0) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) failure = errno;
      continue;
    }
    for (ssize_t done = 0; done < got && failure == 0;) {
      const ssize_t n = ::write(out.get(), buffer + done, static_cast<std::size_t>(got - done));
      if (n > 0) {
        done += n;
      } else if (n == 0 || errno != EINTR) {
        failure = n == 0 ? EIO : errno;
      }
    }
  }
  // The launcher compares times to the nanosecond; the access time is left as it is.
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
  if (failure == 0 && ::fchmod(out.get(), info.st_mode & 0777) != 0) failure = errno;
  if (failure == 0 && ::futimens(out.get(), times) != 0) failure = errno;
  if (out.isOpen() && !out.close() && failure == 0) failure = errno;
  if (failure == 0) return true;
  error = "cannot copy to " + to.string() + ": " + std::strerror(failure);
  return false;
}

bool cloneFile(const SourceTree& tree, const std::string& path, const fs::path& to,
               bool preferHardLinks, CopyCounts& counts, std::string& error) {
  Fd dir;
  Fd file;
  std::string name;
  struct stat info {};
  if (!tree.openFile(path, dir, name, file, info, error)) return false;
  if (preferHardLinks && ::linkat(dir.get(), name.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
    // The name may have been swapped since the file was opened: the link stays only if it is
    // the file that was checked, otherwise that file is copied from its descriptor instead.
    struct stat linked {};
    if (::lstat(to.c_str(), &linked) == 0 && linked.st_dev == info.st_dev &&
        linked.st_ino == info.st_ino) {
      ++counts.hardLinked;
      return true;
    }
    if (::unlink(to.c_str()) != 0) {
      error = "cannot remove " + to.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!copyFrom(file, info, to, error)) return false;
  ++counts.copied;
  return true;
}

}  // namespace

bool cloneEntries(const fs::path& from, const fs::path& to,
                  const std::vector<release_manifest::ReleaseEntry>& entries, bool preferHardLinks,
                  CopyCounts& counts, std::string& error) {
  SourceTree tree;
  if (!tree.open(from, error)) return false;
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const release_manifest::ReleaseEntry& entry : entries) {
    if (ec) break;
    const fs::path target = to / entry.path;
    fs::create_directories(target.parent_path(), ec);
    if (ec) break;
    if (entry.isLink()) {
      fs::create_symlink(entry.link, target, ec);
      ++counts.links;
    } else if (!cloneFile(tree, entry.path, target, preferHardLinks, counts, error)) {
      return false;
    }
  }
  if (ec) {
    error = "cannot write into " + to.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool carryOverOtherPlatforms(const fs::path& from, const fs::path& to, const std::string& platform,
                             std::string& error) {
  SourceTree tree;
  if (!tree.open(from, error)) return false;
  std::error_code ec;
  CopyCounts ignored;
  for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!platform.empty() && belongsToPlatform(name, platform)) continue;
    if (it->is_symlink(ec)) {
      // Recreated with its stored target, like the links of a tree.
      const fs::path target = fs::read_symlink(it->path(), ec);
      if (!ec) fs::create_symlink(target, to / name, ec);
      if (!ec) continue;
      error = "cannot carry over " + it->path().string() + ": " + ec.message();
      return false;
    }
    if (!it->is_directory(ec)) {
      if (!cloneFile(tree, name, to / name, true, ignored, error)) return false;
      continue;
    }
    release_manifest::ReleaseListing listing;
    if (!release_manifest::listReleaseTree(it->path(), listing, error) ||
        !cloneEntries(it->path(), to / name, listing.entries, true, ignored, error)) {
      return false;
    }
  }
  if (ec) {
    error = "cannot list " + from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace publish
