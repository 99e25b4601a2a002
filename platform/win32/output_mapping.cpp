#include "platform/output_mapping.h"

#include <windows.h>

#include <cstdint>

#include "platform/win32/open_unredirected.h"
#include "platform/win32/win32_handles.h"

namespace platform {

OutputMapping::~OutputMapping() { close(); }

void OutputMapping::close() {
  // Written back now: the file's time, set once it is closed, is not moved by a late write.
  if (view_ != nullptr) FlushViewOfFile(view_, 0);
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
  size_ = 0;
}

std::error_code OutputMapping::open(const std::filesystem::path& path, std::uint64_t size) {
  close();
  if (size > SIZE_MAX) return std::make_error_code(std::errc::file_too_large);
  std::error_code error;
  win32::UniqueHandle file = win32::openUnredirected(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, error);
  if (!file) return error;
  // Emptied only once it is known to be the file itself, not what a link points at.
  if (!SetEndOfFile(file.get())) return win32::lastError();
  if (size == 0) return {};
  // The mapping's size extends the file and takes its disk space, or fails.
  win32::UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                                 static_cast<DWORD>(size & 0xFFFFFFFFu), nullptr));
  if (!mapping) return win32::lastError();
  // The view holds the mapping and the file open after both handles are closed.
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0);
  if (view == nullptr) return win32::lastError();
  view_ = view;
  size_ = static_cast<std::size_t>(size);
  return {};
}

void dropResidentPages(const void* address, std::size_t size) {
  if (size == 0) return;
  // On a range that is not locked, VirtualUnlock takes its pages out of the working set.
  VirtualUnlock(const_cast<void*>(address), size);
}

}  // namespace platform
