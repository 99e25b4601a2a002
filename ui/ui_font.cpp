#include "ui/ui_font.h"

#include <FL/Fl.H>

#include <string>

#include "platform/window.h"

namespace ui {

void useUiFont() {
  // FLTK keeps the name's pointer, so the name must live as long as the process.
  static const std::string face = platform::uiFontFace();
  Fl::set_font(static_cast<Fl_Font>(0), face.c_str());
  Fl::set_font(static_cast<Fl_Font>(1), face.c_str());
}

}  // namespace ui
