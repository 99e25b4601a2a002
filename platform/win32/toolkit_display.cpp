#include "platform/toolkit_window.h"
#include "platform/window.h"

namespace platform {

// Windows always has a desktop to draw on; the toolkit connects to it by itself.
bool openToolkitDisplay() { return hasDisplay(); }

}  // namespace platform
