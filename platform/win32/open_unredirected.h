#pragma once

#include <windows.h>

#include <filesystem>
#include <system_error>

#include "platform/win32/long_path.h"
#include "platform/win32/win32_handles.h"

namespace platform::win32 {

// Opens the file at `path` itself, shared with everyone, and refuses it when it is a
// symbolic link or a junction (any name-surrogate reparse point): the launcher's own files
// must never lead a write elsewhere. `disposition` is CreateFileW's (OPEN_ALWAYS, ...).
inline UniqueHandle openUnredirected(const std::filesystem::path& path, DWORD access, DWORD disposition,
                                     std::error_code& error) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle file(CreateFileW(systemPath(path).c_str(), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    error = lastError();
    return file;
  }
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &info, sizeof info)) {
    error = lastError();
    return UniqueHandle();
  }
  if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(info.ReparseTag)) {
    error = systemError(ERROR_CANT_ACCESS_FILE);
    return UniqueHandle();
  }
  error.clear();
  return file;
}

}  // namespace platform::win32
