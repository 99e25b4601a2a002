#include "ui/toolkit_display.h"

#include "platform/window.h"

namespace ui {

// Windows always has a desktop to draw on; the toolkit connects to it by itself.
bool openToolkitDisplay() { return platform::hasDisplay(); }

}  // namespace ui
