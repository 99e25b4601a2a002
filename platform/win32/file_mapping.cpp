#include "platform/file_mapping.h"

#include <windows.h>

#include <cstdint>

#include "platform/win32/long_path.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

std::error_code lastError() { return std::error_code(static_cast<int>(GetLastError()), std::system_category()); }

}  // namespace

FileMapping::~FileMapping() { close(); }

void FileMapping::close() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
  size_ = 0;
}

std::error_code FileMapping::open(const std::filesystem::path& path) {
  close();
  // Others may go on reading, writing or renaming the file; the view keeps its own reference.
  win32::UniqueHandle file(CreateFileW(win32::systemPath(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lastError();
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) return lastError();
  if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::make_error_code(std::errc::invalid_argument);
  const ULONGLONG size = (static_cast<ULONGLONG>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  if (size == 0) return {};
  if (size > static_cast<ULONGLONG>(SIZE_MAX)) return std::make_error_code(std::errc::file_too_large);
  win32::UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return lastError();
  // The view holds the mapping and the file open after both handles are closed.
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return lastError();
  view_ = view;
  size_ = static_cast<std::size_t>(size);
  return {};
}

}  // namespace platform
