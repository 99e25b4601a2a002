#include "platform/toolkit_window.h"

#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cstdint>

namespace platform {

namespace {

// fl_xid gives an HWND (a pointer) on Windows and an X window id (an integer) elsewhere.
[[maybe_unused]] void* asPointer(void* handle) { return handle; }
[[maybe_unused]] void* asPointer(unsigned long windowId) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(windowId));
}

}  // namespace

void* nativeWindowHandle(const Fl_Window& window) { return asPointer(fl_xid(&window)); }

}  // namespace platform
