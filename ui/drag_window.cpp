#include "ui/drag_window.h"

#include <FL/Fl.H>

namespace ui {

DragWindow::DragWindow(int x, int y, int width, int height, const char* title)
    : Fl_Double_Window(x, y, width, height, title) {}

DragWindow::~DragWindow() = default;

int DragWindow::handle(int event) {
  switch (event) {
    case FL_PUSH:
      // The children see the press first; only if none takes it does a drag begin here.
      if (!Fl_Double_Window::handle(event)) {
        dragOffsetX_ = Fl::event_x_root() - x();
        dragOffsetY_ = Fl::event_y_root() - y();
      }
      return 1;
    case FL_DRAG:
      resize(Fl::event_x_root() - dragOffsetX_, Fl::event_y_root() - dragOffsetY_, w(), h());
      return 1;
    default:
      return Fl_Double_Window::handle(event);
  }
}

}  // namespace ui
