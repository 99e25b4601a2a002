#pragma once

namespace ui {

// Points FLTK's font slots 0 and 1 at the face that draws both English and Chinese
// (platform::uiFontFace). Stays in force for the rest of the process.
void useUiFont();

}  // namespace ui
