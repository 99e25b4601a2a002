#pragma once

class Fl_Window;

namespace ui {

// The shown window's handle in the window system (an HWND on Windows, an X window id
// elsewhere), for the platform layer; null when the window has none.
void* nativeWindowHandle(const Fl_Window& window);

}  // namespace ui
