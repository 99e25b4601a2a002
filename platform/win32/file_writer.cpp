#include "platform/file_writer.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/open_unredirected.h"
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
  std::error_code error;
  win32::UniqueHandle file =
      win32::openUnredirected(path, access, mode == Mode::CreateNew ? CREATE_NEW : OPEN_ALWAYS, error);
  if (!file) return error;
  // Emptied only once it is known to be the file itself, not what a link points at.
  if (mode == Mode::Truncate && !SetEndOfFile(file.get())) return win32::lastError();
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
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

std::error_code FileWriter::sync() {
  if (!isOpen()) return win32::systemError(ERROR_INVALID_HANDLE);
  if (!FlushFileBuffers(asHandle(handle_))) return win32::lastError();
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
