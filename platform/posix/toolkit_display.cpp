#include <FL/Fl.H>
#include <FL/x.H>

#include "platform/toolkit_window.h"
#include "platform/window.h"

namespace platform {

bool openToolkitDisplay() {
  if (fl_display) return true;
  // The toolkit adopts a connection that is known to work instead of opening its own.
  void* connection = connectDisplay();
  if (!connection) return false;
  fl_open_display(static_cast<Display*>(connection));
  return true;
}

}  // namespace platform
