// File-system operations on Linux: direct system calls, errno values in the system category.
#include "platform/filesystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/descriptor.h"

namespace platform {

namespace {

using posix::Descriptor;

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

ItemKind kindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return ItemKind::Regular;
  if (S_ISDIR(mode)) return ItemKind::Directory;
  if (S_ISLNK(mode)) return ItemKind::Symlink;
  return ItemKind::Other;
}

std::error_code statItem(const char* path, bool followLinks, struct stat& status) {
  const int result = followLinks ? ::stat(path, &status) : ::lstat(path, &status);
  return result == 0 ? std::error_code() : lastError();
}

std::error_code statItem(const fs::path& path, bool followLinks, struct stat& status) {
  return statItem(path.c_str(), followLinks, status);
}

std::int64_t fileTimeOf(const struct stat& status) {
  return static_cast<std::int64_t>(status.st_mtim.tv_sec) * kFileTimeUnitsPerSecond + status.st_mtim.tv_nsec / 100 +
         kFileTimeUnixEpoch;
}

struct DirCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

bool isNotFoundError(const std::error_code& error) {
  if (!error) return false;
  if (error.category() != std::system_category() && error.category() != std::generic_category()) return false;
  return error.value() == ENOENT || error.value() == ENOTDIR;
}

std::error_code queryItemKind(const fs::path& path, bool followLinks, ItemKind& kind) {
  struct stat status;
  std::error_code error = statItem(path, followLinks, status);
  if (error) {
    kind = ItemKind::Missing;
    return isNotFoundError(error) ? std::error_code() : error;
  }
  kind = kindOfMode(status.st_mode);
  return {};
}

std::error_code queryItemStatus(const fs::path& path, bool followLinks, ItemStatus& status) {
  return queryItemStatus(path.native(), followLinks, status);
}

std::error_code queryItemStatus(const NativeString& path, bool followLinks, ItemStatus& status) {
  status = ItemStatus();
  struct stat item;
  std::error_code error = statItem(path.c_str(), false, item);
  // Only a link needs a second look, and only when its target is what counts.
  if (!error && followLinks && S_ISLNK(item.st_mode)) error = statItem(path.c_str(), true, item);
  if (error) return isNotFoundError(error) ? std::error_code() : error;
  status.kind = kindOfMode(item.st_mode);
  status.size = static_cast<std::uint64_t>(item.st_size);
  status.lastWriteFileTime = fileTimeOf(item);
  return {};
}

std::error_code readSmallFile(const fs::path& path, std::size_t limit, std::string& text, bool& tooLarge) {
  text.clear();
  tooLarge = false;
  // Without blocking: a FIFO planted at the path is refused below, never waited on.
  posix::Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return lastError();
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return lastError();
  if (!S_ISREG(status.st_mode)) return std::error_code(EINVAL, std::system_category());
  if (static_cast<std::uint64_t>(status.st_size) > limit) {
    tooLarge = true;
    return {};
  }
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return lastError();
    if (count == 0) return {};
    // A file that grew while it was read is still held to its bound.
    if (text.size() + static_cast<std::size_t>(count) > limit) {
      text.clear();
      tooLarge = true;
      return {};
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
}

std::error_code fileSize(const fs::path& path, std::uint64_t& size) {
  struct stat status;
  if (std::error_code error = statItem(path, true, status)) return error;
  size = static_cast<std::uint64_t>(status.st_size);
  return {};
}

std::error_code lastWriteFileTime(const fs::path& path, std::int64_t& fileTime) {
  struct stat status;
  if (std::error_code error = statItem(path, true, status)) return error;
  fileTime = fileTimeOf(status);
  return {};
}

std::error_code setLastWriteFileTime(const fs::path& path, std::int64_t fileTime) {
  const std::int64_t sinceEpoch = fileTime - kFileTimeUnixEpoch;
  std::int64_t seconds = sinceEpoch / kFileTimeUnitsPerSecond;
  std::int64_t units = sinceEpoch % kFileTimeUnitsPerSecond;
  if (units < 0) {  // moments before 1970: nanoseconds must stay non-negative
    units += kFileTimeUnitsPerSecond;
    seconds -= 1;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays as it is
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(units * 100);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return lastError();
  return {};
}

std::int64_t currentFileTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kFileTimeUnitsPerSecond + now.tv_nsec / 100 +
         kFileTimeUnixEpoch;
}

std::error_code createDirectories(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  // The library reports errno values in the generic category; every error here is a system one.
  if (error) return std::error_code(error.value(), std::system_category());
  return {};
}

std::error_code removeItem(const fs::path& path) {
  // Most items are files: unlink first, and look closer only when it refuses a folder.
  if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) return {};
  if (errno != EISDIR && errno != EPERM) return lastError();
  struct stat status;
  std::error_code error = statItem(path, false, status);
  if (error) return isNotFoundError(error) ? std::error_code() : error;
  const int result = S_ISDIR(status.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
  if (result != 0 && errno != ENOENT) return lastError();
  return {};
}

std::error_code removeTree(const fs::path& path) {
  struct stat status;
  std::error_code error = statItem(path, false, status);
  if (error) return isNotFoundError(error) ? std::error_code() : error;
  if (S_ISDIR(status.st_mode)) {
    std::vector<DirectoryItem> items;
    if (std::error_code listing = listDirectory(path, items)) return listing;
    for (const DirectoryItem& item : items) {
      // A link to a directory reads as Symlink here and is unlinked, never entered.
      if (std::error_code inner = item.kind == ItemKind::Directory ? removeTree(item.path) : removeItem(item.path)) {
        return inner;
      }
    }
  }
  return removeItem(path);
}

std::error_code createFileSymlink(const NativeString& target, const fs::path& link) {
  NativeString stored;
  stored.reserve(target.size());
  for (char c : target) {
    if (c == '/' && !stored.empty() && stored.back() == '/') continue;
    stored += c;
  }
  if (::symlink(stored.c_str(), link.c_str()) != 0) return lastError();
  return {};
}

std::error_code readSymlinkTarget(const fs::path& link, NativeString& target) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0) return lastError();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      target = buffer;
      return {};
    }
    if (buffer.size() >= (1u << 20)) return std::error_code(ENAMETOOLONG, std::system_category());
    buffer.resize(buffer.size() * 2);
  }
}

// Names here are bytes, stored exactly as given; there are no aliases.
std::string storedFileName(const fs::path& path) { return path.filename().string(); }

std::string directoryIdentityText(const fs::path& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  return error ? fs::absolute(path, error).string() : canonical.string();
}

std::error_code moveReplacing(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return lastError();
  return {};
}

std::error_code syncDirectory(const fs::path& directory) {
  Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return lastError();
  if (::fsync(fd.get()) != 0) return lastError();
  return fd.close();
}

std::error_code copyOverwriting(const fs::path& from, const fs::path& to) {
  Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0) return lastError();
  struct stat status;
  if (::fstat(source.get(), &status) != 0) return lastError();
  if (S_ISDIR(status.st_mode)) return std::error_code(EISDIR, std::system_category());
  // A link at `to` is replaced, never written through: the copy lands at `to` itself.
  const int targetFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  const mode_t targetMode = status.st_mode & 0777;
  Descriptor target(::open(to.c_str(), targetFlags, targetMode));
  if (target.get() < 0 && errno == ELOOP) {
    if (std::error_code error = removeItem(to)) return error;
    target.reset(::open(to.c_str(), targetFlags, targetMode));
  }
  if (target.get() < 0) return lastError();
  // Emptying the target only now, once it is known not to be the source itself (a file copied
  // onto itself, or onto a hard link of itself, would otherwise be lost).
  struct stat targetStatus;
  if (::fstat(target.get(), &targetStatus) != 0) return lastError();
  if (targetStatus.st_dev == status.st_dev && targetStatus.st_ino == status.st_ino) {
    return std::error_code(EINVAL, std::system_category());
  }
  if (::ftruncate(target.get(), 0) != 0) return lastError();
  if (std::error_code error = posix::copyAll(source.get(), target.get())) return error;
  return target.close();
}

std::error_code listDirectory(const fs::path& directory, std::vector<DirectoryItem>& items) {
  DirHandle handle(::opendir(directory.c_str()));
  if (!handle) return lastError();
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(handle.get());
    if (!entry) {
      if (errno != 0) return lastError();
      return {};
    }
    if (isDotEntry(entry->d_name)) continue;
    DirectoryItem item{directory / entry->d_name, ItemKind::Missing};
    struct stat status;
    if (::lstat(item.path.c_str(), &status) == 0) {
      item.kind = kindOfMode(status.st_mode);
    } else if (errno != ENOENT) {
      return lastError();
    } else {
      continue;  // removed between the listing and the query
    }
    items.push_back(std::move(item));
  }
}

std::error_code isExecutableFile(const fs::path& path, bool& executable) {
  struct stat status;
  if (std::error_code error = statItem(path, true, status)) return error;
  executable = S_ISREG(status.st_mode) && (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
  return {};
}

std::error_code makeExecutable(const fs::path& path) {
  struct stat status;
  if (std::error_code error = statItem(path, true, status)) return error;
  mode_t mode = status.st_mode & 07777;
  // Execute permission for exactly those who may read the file.
  if (mode & S_IRUSR) mode |= S_IXUSR;
  if (mode & S_IRGRP) mode |= S_IXGRP;
  if (mode & S_IROTH) mode |= S_IXOTH;
  if (mode == (status.st_mode & 07777)) return {};
  if (::chmod(path.c_str(), mode) != 0) return lastError();
  return {};
}

}  // namespace platform
