#pragma once

class Fl_Window;

// The window toolkit's meeting points with the window system, kept here so that ui/ sees
// only the toolkit's portable headers.
namespace platform {

// Makes sure the toolkit has a display to draw on before any window is made: true when it
// has one. Without one, the caller must not touch the toolkit, whose own attempt to open a
// display would end the process. On Linux the toolkit adopts a connection that is known to
// work instead of opening its own; Windows always has a desktop.
bool openToolkitDisplay();

// The shown window's handle in the window system (an HWND on Windows, an X window id
// elsewhere), for the calls of platform/window.h; null when the window has none.
void* nativeWindowHandle(const Fl_Window& window);

}  // namespace platform
