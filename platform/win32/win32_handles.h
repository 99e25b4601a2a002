#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <system_error>

namespace platform::win32 {

// Owns one kernel handle (file, process); closed exactly once when the owner goes away.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  // CreateFileW reports failure as INVALID_HANDLE_VALUE, most other calls as null.
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (*this) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Memory that the system allocated for the caller (FormatMessageW, CommandLineToArgvW).
struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

// A directory search (FindFirstFileW), closed with FindClose when the owner goes away.
struct FindCloseDeleter {
  void operator()(HANDLE search) const { FindClose(search); }
};
using UniqueFindHandle = std::unique_ptr<void, FindCloseDeleter>;

// Starts a search for `pattern` into `found`; an empty owner when nothing matches, with
// GetLastError() telling why.
inline UniqueFindHandle findFirstFile(const std::wstring& pattern, WIN32_FIND_DATAW& found) {
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  return UniqueFindHandle(search == INVALID_HANDLE_VALUE ? nullptr : search);
}

inline std::error_code systemError(DWORD code) {
  return std::error_code(static_cast<int>(code), std::system_category());
}

// The calling thread's last error; to be taken right after the call that failed.
inline std::error_code lastError() { return systemError(GetLastError()); }

}  // namespace platform::win32
