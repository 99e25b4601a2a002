#pragma once

#include <string>

namespace ui {

// Points FLTK's font slots 0 and 1 at the face that draws both English and Chinese
// (platform::uiFontFace). Stays in force for the rest of the process.
void useUiFont();

// The name under which FLTK opens `face` in its regular style. FLTK reads a leading 'I', 'B',
// 'P' or ' ' as a style mark (italic, bold, bold italic, regular), so a face that begins with
// one of them gets the regular mark in front; any other name is passed unchanged.
std::string toolkitFontName(const std::string& face);

}  // namespace ui
