// Writing files on Linux through plain descriptors, so that every write and close result is seen.
#include "platform/file_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/descriptor.h"

namespace platform {

namespace {

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

}  // namespace

FileWriter::~FileWriter() {
  if (isOpen()) ::close(static_cast<int>(handle_));
}

std::error_code FileWriter::open(const std::filesystem::path& path, Mode mode) {
  if (isOpen()) {
    std::error_code closing = close();
    if (closing) return closing;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  flags |= mode == Mode::Append ? O_APPEND : mode == Mode::Truncate ? O_TRUNC : O_EXCL;
  const mode_t permissions = mode == Mode::CreateNew ? 0600 : 0644;
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), flags, permissions);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return lastError();
  handle_ = descriptor;
  return {};
}

bool FileWriter::isOpen() const { return handle_ >= 0; }

std::error_code FileWriter::write(const void* data, std::size_t size) {
  if (!isOpen()) return std::error_code(EBADF, std::system_category());
  return posix::writeAll(static_cast<int>(handle_), data, size);
}

std::error_code FileWriter::sync() {
  if (!isOpen()) return std::error_code(EBADF, std::system_category());
  if (::fsync(static_cast<int>(handle_)) != 0) return lastError();
  return {};
}

std::error_code FileWriter::close() {
  if (!isOpen()) return {};
  const int descriptor = static_cast<int>(handle_);
  handle_ = -1;
  // The descriptor is gone after close even when it reports EINTR, so it is never retried.
  if (::close(descriptor) != 0 && errno != EINTR) return lastError();
  return {};
}

}  // namespace platform
