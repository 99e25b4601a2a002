#pragma once

#include <FL/Fl_Double_Window.H>

namespace ui {

// A borderless window that the user moves by pressing anywhere on it and dragging: none of
// its children takes mouse presses, so the whole surface is a handle.
class DragWindow : public Fl_Double_Window {
 public:
  DragWindow(int x, int y, int width, int height, const char* title);
  ~DragWindow() override;

  int handle(int event) override;

 private:
  int dragOffsetX_ = 0;
  int dragOffsetY_ = 0;
};

}  // namespace ui
