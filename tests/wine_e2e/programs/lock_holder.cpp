// Holds a file open the way a virus scanner or an indexer does, for the Wine end-to-end tests:
//   kestrun_wine_lock_holder FILE HELD RELEASE
// opens FILE for reading with read sharing only (no write and, above all, no delete sharing),
// creates the file HELD once it holds it, and keeps it open until the file RELEASE exists
// (at most two minutes). Exit code 0, or 1 with a message when FILE cannot be opened.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args || count != 4) {
    std::fprintf(stderr, "usage: kestrun_wine_lock_holder FILE HELD RELEASE\n");
    return 2;
  }
  HANDLE file = CreateFileW(args[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open the file: error %lu\n", GetLastError());
    return 1;
  }
  HANDLE held = CreateFileW(args[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  const ULONGLONG deadline = GetTickCount64() + 120000;
  while (GetTickCount64() < deadline && GetFileAttributesW(args[3]) == INVALID_FILE_ATTRIBUTES) {
    Sleep(50);
  }
  CloseHandle(file);
  LocalFree(args);
  return 0;
}
