#include "ui/toolkit_display.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include "platform/window.h"

namespace ui {

bool openToolkitDisplay() {
  if (fl_display) return true;
  // The toolkit adopts a connection that is known to work instead of opening its own.
  void* connection = platform::connectDisplay();
  if (!connection) return false;
  fl_open_display(static_cast<Display*>(connection));
  return true;
}

}  // namespace ui
