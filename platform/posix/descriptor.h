#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <system_error>

// Plain descriptors for the Linux backend: an owner, and the loops that go on after short
// writes and interruptions.
namespace platform::posix {

// An open descriptor, closed once.
class Descriptor {
 public:
  explicit Descriptor(int value = -1) : value_(value) {}
  ~Descriptor() {
    if (value_ >= 0) ::close(value_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return value_; }
  void reset(int value) {
    if (value_ >= 0) ::close(value_);
    value_ = value;
  }
  // Closes now and reports a failed close, which can be the first sign of a failed write.
  std::error_code close() {
    const int value = value_;
    value_ = -1;
    if (value >= 0 && ::close(value) != 0 && errno != EINTR) return std::error_code(errno, std::system_category());
    return {};
  }

 private:
  int value_;
};

// Writes every byte to the descriptor. A write that makes no progress is an I/O error, never
// an endless loop.
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

// Copies everything that can still be read from `from` to `to`.
inline std::error_code copyAll(int from, int to) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::error_code(errno, std::system_category());
    }
    if (got == 0) return {};
    if (std::error_code error = writeAll(to, buffer, static_cast<std::size_t>(got))) return error;
  }
}

}  // namespace platform::posix
