#pragma once

#include <memory>
#include <string>
#include <vector>

// What the progress window and the warning box need from the operating system, free of any
// toolkit: the window itself is drawn by the UI library, these calls only adjust it.
namespace platform {

// Asks for per-monitor DPI awareness (v2), falling back to system awareness on systems
// without it. Silent either way; does nothing where the system has no such setting.
void enableDpiAwareness();

// The primary screen's horizontal logical DPI; 96 when it cannot be read or is below 1.
// Elsewhere than Windows: the desktop's "Xft.dpi" setting, else 96.
int screenDpi();

// True when windows can be shown: always on Windows; on Linux when the X display named by
// DISPLAY can be opened. Call it before any toolkit call, which would end the process.
bool hasDisplay();

// Linux: a new connection to the X display named by DISPLAY (an Xlib Display*), for the
// window toolkit to adopt and own, so that the toolkit never makes a first attempt of its
// own that could fail. An X server too busy to accept a connection is asked again for up to
// half a second. Null when no connection can be made. Windows has no such connection: null.
void* connectDisplay();

// The face name that draws both Latin and Chinese text: "Microsoft YaHei" on Windows, the
// face fontconfig picks for "sans-serif:lang=zh-cn" elsewhere ("sans" when none matches).
std::string uiFontFace();

// What decorateShownWindow handed to a window (its icons). Destroy it only after the window
// itself is gone; until then the window draws with them.
class WindowDecoration;
struct WindowDecorationCloser {
  void operator()(WindowDecoration* decoration) const;
};
using WindowDecorationOwner = std::unique_ptr<WindowDecoration, WindowDecorationCloser>;

// Window-system settings for a window that has just been shown (Windows, its HWND): gives it
// a taskbar button (WS_EX_APPWINDOW instead of WS_EX_TOOLWINDOW), centres it on the whole
// primary screen as a topmost window (not clamped: a window larger than the screen gets
// negative coordinates), brings it to the foreground and sets the big and small icons of the
// executable's first icon group. A null handle does nothing, and so does any other system,
// where the toolkit places the window and sets its icon; null comes back then.
WindowDecorationOwner decorateShownWindow(void* nativeHandle);

// The background picture built into the executable (the RCDATA resource "UPGRADE_BG" on
// Windows), as PNG bytes. False, with `png` empty, when the executable carries none.
bool loadBackgroundPng(std::vector<unsigned char>& png);

// A PNG window icon built into the executable, for systems where the window toolkit sets
// the icon itself. False on Windows, where decorateShownWindow sets the icon group instead.
bool loadWindowIconPng(std::vector<unsigned char>& png);

// The system's warning box with one OK button (Windows: MessageBoxW, MB_OK | MB_ICONWARNING,
// no owner; a caption or text that is not valid UTF-8 is shown empty). Returns when it has
// been dismissed. Elsewhere there is no system box: "caption: text" and a line break go to
// standard error.
void showWarningBox(const std::string& caption, const std::string& text);

}  // namespace platform
