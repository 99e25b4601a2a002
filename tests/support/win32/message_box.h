#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// What a user sees of a message box: its caption and the texts of its static controls.
struct MessageBoxText {
  std::wstring caption;
  std::wstring text;
};

// The next visible message box (a dialog of the system's dialog class) of process `processId`
// after `after` in the window list, or null.
inline HWND findMessageBox(DWORD processId, HWND after = nullptr) {
  HWND box = after;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner == processId && IsWindowVisible(box)) return box;
  }
  return nullptr;
}

inline MessageBoxText readMessageBox(HWND box) {
  MessageBoxText seen;
  wchar_t caption[256] = {};
  GetWindowTextW(box, caption, 256);
  seen.caption = caption;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM text) -> BOOL {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        if (lstrcmpiW(className, L"Static") != 0) return TRUE;
        wchar_t part[1024] = {};
        GetWindowTextW(child, part, 1024);
        *reinterpret_cast<std::wstring*>(text) += part;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen.text));
  return seen;
}

}  // namespace testing_support
