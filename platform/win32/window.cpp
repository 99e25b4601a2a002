#include "platform/window.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

namespace platform {

namespace {

// GetProcAddress hands back a generic pointer; going through void(*)() keeps the cast explicit.
template <typename Function>
Function lookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Per-monitor v2 awareness; DPI_AWARENESS_CONTEXT is a pseudo handle with the value -4.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-4));

}  // namespace

class WindowDecoration {
 public:
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  ~WindowDecoration() {
    if (bigIcon) DestroyIcon(bigIcon);
    if (smallIcon) DestroyIcon(smallIcon);
  }
};

void WindowDecorationCloser::operator()(WindowDecoration* decoration) const { delete decoration; }

void enableDpiAwareness() {
  // Both functions are newer than some supported systems, so they are looked up, not linked.
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  using SetContext = BOOL(WINAPI*)(HANDLE);
  using SetAware = BOOL(WINAPI*)();
  const auto setContext = lookUp<SetContext>(user32, "SetProcessDpiAwarenessContext");
  if (setContext && setContext(kPerMonitorAwareV2)) return;
  const auto setAware = lookUp<SetAware>(user32, "SetProcessDPIAware");
  if (setAware) setAware();
}

int screenDpi() {
  const ScreenDc screen;
  if (!screen.get()) return 96;
  const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
  return dpi < 1 ? 96 : dpi;
}

bool hasDisplay() { return true; }

void* connectDisplay() { return nullptr; }

std::string uiFontFace() { return "Microsoft YaHei"; }

WindowDecorationOwner decorateShownWindow(void* nativeHandle) {
  const HWND window = static_cast<HWND>(nativeHandle);
  if (!window) return nullptr;

  // The toolkit makes a borderless window a tool window, which has no taskbar button; the
  // style only takes effect on a hidden window.
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  ShowWindow(window, SW_HIDE);
  SetWindowLongPtrW(window, GWL_EXSTYLE, (style & ~static_cast<LONG_PTR>(WS_EX_TOOLWINDOW)) | WS_EX_APPWINDOW);
  ShowWindow(window, SW_SHOW);

  RECT outer;
  if (GetWindowRect(window, &outer)) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int x = (screenWidth - (outer.right - outer.left)) / 2;
    const int y = (screenHeight - (outer.bottom - outer.top)) / 2;
    SetWindowPos(window, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  }
  SetForegroundWindow(window);

  WindowDecorationOwner decoration(new WindowDecoration);
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return decoration;
  if (ExtractIconExW(path, 0, &decoration->bigIcon, &decoration->smallIcon, 1) == 0) return decoration;
  if (decoration->bigIcon) {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(decoration->bigIcon));
  }
  if (decoration->smallIcon) {
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(decoration->smallIcon));
  }
  return decoration;
}

}  // namespace platform
