#pragma once

#include "ui/progress_controller.h"

// Shows the progress window, runs `task` on a worker thread, and returns the task's result
// once the window has closed and the worker has ended. `chinese` picks the language,
// `updating` the wording (true: updating an installed program, false: first installation).
// Without a display (Linux) the task runs on the worker thread with no window.
bool runProgressWindow(bool chinese, bool updating, const ProgressTask& task);
