#pragma once

namespace ui {

// Makes sure the toolkit has a display to draw on before any window is made: true when it
// has one. Without one, the caller must not touch the toolkit, whose own attempt to open a
// display would end the process.
bool openToolkitDisplay();

}  // namespace ui
