#include "ui/ui_font.h"

#include <FL/Fl.H>

#include "platform/window.h"

namespace ui {

std::string toolkitFontName(const std::string& face) {
  if (!face.empty() && (face[0] == 'I' || face[0] == 'B' || face[0] == 'P' || face[0] == ' ')) return " " + face;
  return face;
}

void useUiFont() {
  // FLTK keeps the name's pointer, so the name must live as long as the process.
  static const std::string name = toolkitFontName(platform::uiFontFace());
  Fl::set_font(static_cast<Fl_Font>(0), name.c_str());
  Fl::set_font(static_cast<Fl_Font>(1), name.c_str());
}

}  // namespace ui
