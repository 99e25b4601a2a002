// Kept free of <windows.h>: the Windows names appear as their documented numbers, and
// kernel32's GetProcAddress is reached through its own declaration.
#include "tests/support/test_system.h"

extern "C" {
__declspec(dllimport) void* __stdcall GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
}

namespace testing_support {

bool runningUnderWine() {
  void* const ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::error_code systemErrorFor(std::errc condition) {
  int code = 0;
  switch (condition) {
    case std::errc::directory_not_empty:
      code = 145;  // ERROR_DIR_NOT_EMPTY
      break;
    default:
      code = 1627;  // ERROR_FUNCTION_FAILED: a condition this table does not know yet
      break;
  }
  return std::error_code(code, std::system_category());
}

}  // namespace testing_support
