#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <system_error>

namespace platform::posix {

// Writes every byte to the descriptor, going on after short writes and interruptions. A
// write that makes no progress is an I/O error, never an endless loop.
inline std::error_code writeAll(int descriptor, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(descriptor, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::error_code(errno, std::system_category());
    }
    if (written == 0) return std::error_code(EIO, std::system_category());
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

}  // namespace platform::posix
