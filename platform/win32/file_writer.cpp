#include "platform/file_writer.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

HANDLE asHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE

}  // namespace

FileWriter::~FileWriter() { close(); }

std::error_code FileWriter::open(const std::filesystem::path& path, Mode mode) {
  close();
  // Append access alone makes every write land at the current end of the file, also when
  // another process appends to it at the same time.
  const DWORD access = mode == Mode::Append ? FILE_APPEND_DATA : GENERIC_WRITE;
  const DWORD disposition = mode == Mode::Append ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return win32::lastError();
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return {};
}

bool FileWriter::isOpen() const { return handle_ != kClosed; }

std::error_code FileWriter::write(const void* data, std::size_t size) {
  if (!isOpen()) return win32::systemError(ERROR_INVALID_HANDLE);
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    // WriteFile takes at most a DWORD at a time.
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), next, chunk, &written, nullptr)) return win32::lastError();
    if (written == 0) return win32::systemError(ERROR_WRITE_FAULT);
    next += written;
    size -= written;
  }
  return {};
}

std::error_code FileWriter::close() {
  if (!isOpen()) return {};
  HANDLE file = asHandle(handle_);
  handle_ = kClosed;
  if (!CloseHandle(file)) return win32::lastError();
  return {};
}

}  // namespace platform
