#include "platform/output_mapping.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "platform/posix/descriptor.h"

// Linux 5.14; older kernels refuse it, which costs only the hint.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace platform {

namespace {

// [address, address + size) widened to whole pages.
std::pair<std::uintptr_t, std::uintptr_t> pageRange(const void* address, std::size_t size) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(address) / page * page;
  return {start, reinterpret_cast<std::uintptr_t>(address) + size - start};
}

std::error_code lastError() { return std::error_code(errno, std::system_category()); }

// Whether `size` more bytes leave at least `keepFree` free for an unprivileged user.
std::error_code checkFreeSpace(int file, std::uint64_t size, std::uint64_t keepFree) {
  struct statvfs volume {};
  if (::fstatvfs(file, &volume) != 0) return lastError();
  const std::uint64_t available = std::uint64_t{volume.f_bavail} * volume.f_frsize;
  if (available < keepFree || available - keepFree < size) return std::make_error_code(std::errc::no_space_on_device);
  return {};
}

}  // namespace

OutputMapping::~OutputMapping() { close(); }

void OutputMapping::close() {
  if (view_ != nullptr) ::munmap(view_, size_);
  view_ = nullptr;
  size_ = 0;
}

std::error_code OutputMapping::open(const std::filesystem::path& path, std::uint64_t size, std::uint64_t keepFree) {
  close();
  if (size > SIZE_MAX || size > static_cast<std::uint64_t>(INT64_MAX)) return std::make_error_code(std::errc::file_too_large);
  posix::Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (file.get() < 0) return lastError();
  if (size == 0) return file.close();
  // The size comes from a manifest that may not be signed: it may not take the disk's last bytes.
  if (const std::error_code space = checkFreeSpace(file.get(), size, keepFree)) return space;
  // Blocks taken now: a write into a hole that the disk cannot fill would end the process.
  if (const int result = ::posix_fallocate(file.get(), 0, static_cast<off_t>(size)); result != 0) {
    return std::error_code(result, std::system_category());
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0);
  if (view == MAP_FAILED) return lastError();
  view_ = view;
  size_ = static_cast<std::size_t>(size);
  return file.close();
}

void dropResidentPages(const void* address, std::size_t size) {
  if (size == 0) return;
  const auto [start, length] = pageRange(address, size);
  // Pages of a file mapping are only unmapped: written ones stay dirty in the file's cache.
  ::madvise(reinterpret_cast<void*>(start), length, MADV_DONTNEED);
}

void prepareForWriting(void* address, std::size_t size) {
  if (size == 0) return;
  const auto [start, length] = pageRange(address, size);
  // The blocks are taken already (posix_fallocate), so this only fills the page tables.
  ::madvise(reinterpret_cast<void*>(start), length, MADV_POPULATE_WRITE);
}

}  // namespace platform
