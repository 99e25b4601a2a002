// The installation lock on Windows: LockFileEx on a handle of our own, never inherited.
#include "platform/file_lock.h"

#include <windows.h>

#include "platform/win32/open_unredirected.h"

namespace platform {

namespace {

HANDLE asHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE

// One byte at the start of the file stands for the whole installation.
bool lockFirstByte(HANDLE file, DWORD flags) {
  OVERLAPPED at{};
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &at) != 0;
}

}  // namespace

FileLock::~FileLock() { release(); }

void FileLock::release() {
  if (handle_ != kClosed) CloseHandle(asHandle(handle_));  // closing drops the lock
  handle_ = kClosed;
  held_ = false;
}

std::error_code FileLock::tryLock(const std::filesystem::path& path, bool& acquired) {
  release();
  acquired = false;
  std::error_code error;
  // Read access is all that LockFileEx needs, and a reader elsewhere that shares reading only
  // (as most programs that open a file to look at it do) leaves it to us; asking to write as
  // well would fail with a sharing violation for as long as that reader keeps the file open.
  // The right to change the file's attributes, which sharing does not restrict, keeps the lock
  // to those who may change the installation: a user who can only read it cannot hold it.
  win32::UniqueHandle file = win32::openUnredirected(path, GENERIC_READ | FILE_WRITE_ATTRIBUTES, OPEN_ALWAYS, error);
  if (!file) return error;
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
  return tryAgain(acquired);
}

std::error_code FileLock::tryAgain(bool& acquired) {
  acquired = false;
  if (handle_ == kClosed) return win32::systemError(ERROR_INVALID_HANDLE);
  if (lockFirstByte(asHandle(handle_), LOCKFILE_FAIL_IMMEDIATELY)) {
    acquired = held_ = true;
    return {};
  }
  const DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return {};
  release();
  return win32::systemError(code);
}

std::error_code FileLock::lock() {
  if (handle_ == kClosed) return win32::systemError(ERROR_INVALID_HANDLE);
  if (!lockFirstByte(asHandle(handle_), 0)) return win32::lastError();
  held_ = true;
  return {};
}

}  // namespace platform
