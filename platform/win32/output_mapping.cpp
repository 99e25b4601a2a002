#include "platform/output_mapping.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/win32/long_path.h"
#include "platform/win32/open_unredirected.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

// Whether `size` more bytes leave at least `keepFree` free for this user on the file's disk.
std::error_code checkFreeSpace(const std::filesystem::path& path, std::uint64_t size, std::uint64_t keepFree) {
  std::wstring directory = win32::systemPath(path.parent_path());
  if (directory.empty() || directory.back() != L'\\') directory += L'\\';
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr)) return win32::lastError();
  if (available.QuadPart < keepFree || available.QuadPart - keepFree < size) {
    return std::make_error_code(std::errc::no_space_on_device);
  }
  return {};
}

bool allocated(HANDLE file, std::uint64_t size) {
  FILE_STANDARD_INFO info{};
  return GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
         static_cast<std::uint64_t>(info.AllocationSize.QuadPart) >= size;
}

std::error_code writeZeros(HANDLE file, std::uint64_t size) {
  const std::vector<char> zeros(std::size_t{1} << 20);
  for (std::uint64_t at = 0; at < size;) {
    const auto count = static_cast<DWORD>(std::min<std::uint64_t>(zeros.size(), size - at));
    DWORD written = 0;
    if (!WriteFile(file, zeros.data(), count, &written, nullptr)) return win32::lastError();
    if (written == 0) return std::make_error_code(std::errc::no_space_on_device);
    at += written;
  }
  return {};
}

// Makes the emptied file `size` bytes long with its clusters allocated, so that no write into
// its mapping can meet a full disk: such a write would raise an in-page error and end the
// process. NTFS allocates on extension; a file system that extends sparsely (Wine's Linux
// files, a network share) gets the bytes written once. A compressed or sparse file allocates
// only when written back, whatever it holds now, so it is refused.
std::error_code reserveSpace(HANDLE file, std::uint64_t size) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return win32::lastError();
  if (basic.FileAttributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE)) {
    return std::make_error_code(std::errc::operation_not_supported);
  }
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) return win32::lastError();
  if (allocated(file, size)) return {};
  if (const std::error_code writing = writeZeros(file, size)) return writing;
  return allocated(file, size) ? std::error_code() : std::make_error_code(std::errc::operation_not_supported);
}

}  // namespace

OutputMapping::~OutputMapping() { close(); }

void OutputMapping::close() {
  // Written back now: the file's time, set once it is closed, is not moved by a late write.
  if (view_ != nullptr) FlushViewOfFile(view_, 0);
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
  size_ = 0;
}

std::error_code OutputMapping::open(const std::filesystem::path& path, std::uint64_t size, std::uint64_t keepFree) {
  close();
  if (size > SIZE_MAX || size > static_cast<std::uint64_t>(INT64_MAX)) {
    return std::make_error_code(std::errc::file_too_large);
  }
  std::error_code error;
  win32::UniqueHandle file = win32::openUnredirected(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, error);
  if (!file) return error;
  // Emptied only once it is known to be the file itself, not what a link points at.
  if (!SetEndOfFile(file.get())) return win32::lastError();
  if (size == 0) return {};
  // The size comes from a manifest that may not be signed: it may not take the disk's last bytes.
  if (const std::error_code space = checkFreeSpace(path, size, keepFree)) return space;
  if (const std::error_code space = reserveSpace(file.get(), size)) return space;
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

// Windows has no call that makes file pages writable ahead of the writes (PrefetchVirtualMemory
// only reads them in): a fault per page, as before.
void prepareForWriting(void*, std::size_t) {}

}  // namespace platform
