#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/posix/descriptor.h"

namespace platform {

FileMapping::~FileMapping() { close(); }

void FileMapping::close() {
  if (view_ != nullptr) ::munmap(view_, size_);
  view_ = nullptr;
  size_ = 0;
}

std::error_code FileMapping::open(const std::filesystem::path& path) {
  close();
  posix::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::error_code(errno, std::system_category());
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return std::error_code(errno, std::system_category());
  if (!S_ISREG(status.st_mode)) return std::make_error_code(std::errc::invalid_argument);
  if (status.st_size == 0) return {};
  const auto size = static_cast<std::size_t>(status.st_size);
  // The mapping stays valid after the descriptor is closed.
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
  if (view == MAP_FAILED) return std::error_code(errno, std::system_category());
  view_ = view;
  size_ = size;
  return {};
}

}  // namespace platform
